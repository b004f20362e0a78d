// The server's control dialog: Connect registers the name with the central
// server; a one-second timer then waits for a client's request, punches the hole,
// starts OpenVPN and watches the tunnel, checking the client's password. Whenever
// the work ends by itself the server registers its name again.
#pragma once

#include <windows.h>

#include <stdint.h>

#define FIELD_SIZE 19 // 18 characters and the terminating zero

extern char userName[20];
extern char password[20];
extern int heartbeat;   // ticks since start; never reset
extern int active;      // registered and working
extern int requested;   // a request has arrived since Connect: the tunnel phase
extern int requestWait; // ticks spent waiting for a request since Connect
extern int missedBeats; // consecutive tunnel ticks without a probe
extern int connected;   // the tunnel was confirmed since Connect
extern int probeSocket; // bound to the server's tunnel address; -1 until it can be
extern uint32_t peerTunnelIp;

INT_PTR CALLBACK controlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
