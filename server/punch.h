// The server's side of a client's request: noticing it, and punching the hole
// towards the client's public address.
#pragma once

// True when a MSG_PEER_ADDRESS is among the datagrams queued on punchSocket; it is
// then in the receive buffer. Everything taken in before it is dropped.
bool requestArrived();

// Punches towards the client named by the request in the receive buffer: 0 when a
// client's probe arrived and was answered (punchSocket is then closed), -1 after
// seven silent bursts (punchSocket stays open). Blocks for up to seven seconds.
int punchToClient();
