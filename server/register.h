// The server's registration of its name with the central server, from its
// rendezvous socket on PUNCH_PORT.
#pragma once

// The server's rendezvous socket: open from the first Connect until a punch succeeds.
extern int& punchSocket;

// The machine's computer name, at most 15 characters; empty when unknown.
extern char computerName[16];

// The last registration got no answer ("CENTRAL TIMEOUT"): the next one runs the
// central server's discovery again first.
extern bool centralSilent;

// 0 when punchSocket is open afterwards (opened now or already open), -1 when
// PUNCH_PORT cannot be bound.
int openPunchSocket();

// Registers the name: 1 registered, 0 the name is held by another server, -1 no
// usable answer within two seconds. Sends once and looks after one and two seconds;
// after a registration without an answer, resolves the central server first. A
// client's request that comes in meanwhile is kept (requestKept) for the dialog.
int registerName(const char* name);
