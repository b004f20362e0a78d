// The client's control dialog: it takes the server's name and the password,
// runs the connect sequence on Connect, and then watches the tunnel on a
// one-second timer with a liveness probe through it.
#pragma once

#include <windows.h>

#include <stdint.h>

#define FIELD_SIZE 19 // 18 characters and the terminating zero

extern char userName[FIELD_SIZE];
extern char password[FIELD_SIZE];
extern int active;         // connected sequence succeeded; OpenVPN started; timer runs
extern int connected;      // a probe of the server has arrived since Connect
extern int missedBeats;    // consecutive ticks without a probe
extern int answeredBeats;  // consecutive ticks with a probe
extern int explorerOpened; // the server's folders were opened since Connect
extern int heartbeat;      // ticks since the program started
extern int probeSocket;    // bound to the client's tunnel address; -1 until it can be
extern uint32_t peerTunnelIp;

INT_PTR CALLBACK controlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
