// Native stand-in for the Winsock subset that the programs use. Sockets are the
// system's own; recvfrom keeps Winsock's rule that a datagram longer than the
// buffer fails with -1 (and is consumed) instead of being cut.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "windows.h"

typedef int SOCKET;
typedef unsigned long u_long;
#define SOCKET_ERROR (-1)

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
} WSADATA;

int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int closesocket(SOCKET s);
int ioctlsocket(SOCKET s, long command, u_long* argument);
// Accepts SIO_UDP_CONNRESET only: Linux never reports ICMP errors on an unconnected
// UDP socket, which is what that control asks for.
int WSAIoctl(SOCKET s, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
             DWORD* returned, void* overlapped, void* completion);

// Exclusive use of the port a socket binds (set before the bind): no other socket
// may bind it, whatever options it sets.
#define SO_EXCLUSIVEADDRUSE ((int)(~SO_REUSEADDR))
int platformSetsockopt(SOCKET s, int level, int name, const void* value, int size);
#define setsockopt platformSetsockopt

int platformRecvfrom(SOCKET s, char* buffer, int length, int flags, struct sockaddr* from,
                     int* fromLength);
#define recvfrom platformRecvfrom
