// The server's side of a client's request: noticing it, and punching the hole
// towards the client's public address.
#pragma once

#include "rendezvous/message.h"

// The request being answered: a MSG_PEER_ADDRESS naming the client's public side.
extern RendezvousMessage clientRequest;
// A request met while the name was being registered, not answered yet.
extern bool requestKept;

// Keeps the MSG_PEER_ADDRESS in the receive buffer for the next request check. The
// registration meets one when a client asks while it waits for central's answer.
void keepRequest();

// True when a client's request is there: one kept while registering, or a
// MSG_PEER_ADDRESS among the datagrams queued on punchSocket (everything taken in
// before it is dropped). It is then in clientRequest.
bool requestArrived();

// Punches towards the client named by clientRequest: 0 when a client's probe
// arrived and was answered (punchSocket is then closed), -1 after seven silent
// bursts (punchSocket stays open). Blocks for up to seven seconds.
int punchToClient();
