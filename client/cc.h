// The client's connect sequence: ask the central server for the server registered
// under a name, punch a UDP hole towards it from PUNCH_PORT, free the port and
// start OpenVPN towards the address and port from which the server's probe came.
#pragma once

#include <stdint.h>

// The client's rendezvous socket, open only during a run of the sequence.
extern int& mysock;

// The server's public address and port, as the central server named them.
extern uint32_t peerIp;
extern uint16_t peerPort;

// 0 when OpenVPN has been started, -1 on failure. Blocks for up to about eight
// seconds plus discovery. Needs Winsock started and `unamepass` written.
int connectToServer(const char* userName);
