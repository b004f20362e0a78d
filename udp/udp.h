// The datagram endpoint: the one place where the programs touch Winsock for UDP.
// Addresses and ports cross this interface in host byte order.
#pragma once

#include <stdint.h>

// Starts Winsock 2.2; returns only when it is ready, else ends the process with code 1.
void udpStartup();

// A socket bound to all local addresses on the port, in blocking mode; -1 on failure.
int udpOpen(uint16_t port);

// A socket bound to this program's tunnel address on the probe port; -1 while no
// local interface carries that address (the tunnel is not up).
int udpOpenTunnel();

// Takes one datagram. originalSize is the buffer's capacity on the way in and what
// the receive gave on the way out. True when a datagram of 1 to capacity-2 bytes
// was taken in; it is then terminated by a zero byte.
bool udpReceive(int fd, char* buffer, int& originalSize, uint32_t& srcIp, uint16_t& srcPort);

// Sends one datagram; true only when the whole length went. A dstPort of 0 selects
// a send on a connected socket, and then dstIp must be 0.
bool udpSend(int fd, const char* data, int length, uint32_t dstIp, uint16_t dstPort);

// Switches a socket to non-blocking mode: a receive then gives false at once when
// nothing is queued. Its opener does so right after the open.
void udpNonBlocking(int fd);

// Closes a socket; its handle is -1 afterwards.
void udpClose(int& fd);

// The address written as a dotted quad, in host byte order; 0xFFFFFFFF when the
// text is none.
uint32_t udpAddress(const char* dotted);
