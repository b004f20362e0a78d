#include "udp.h"

#include <winsock2.h>
#include <mswsock.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "common/assertion.h"
#include "common/values.h"

void udpStartup()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        std::cerr << "Could not load winsock" << std::endl;
        CHECK(0);
        exit(1);
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        // "verion" is kept: users know the message as it is spelled.
        std::cerr << "Bad winsock verion" << std::endl;
        CHECK(0);
        exit(1);
    }
}

static sockaddr_in socketAddress(uint32_t ip, uint16_t port)
{
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ip);
    return address;
}

// Windows reports an ICMP "port unreachable" caused by an earlier send as a failed
// receive (WSAECONNRESET) on a UDP socket. Punching sends probes to ports where
// nobody listens, and such an error would end a receive loop in front of the very
// probe that answers them; the socket is told to keep quiet about it.
static void ignorePortUnreachable(SOCKET s)
{
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
             nullptr);
}

// Windows lets a second socket that sets SO_REUSEADDR bind a port that is in use
// and take its datagrams; a socket opened for exclusive use keeps the port to
// itself. Only before the bind.
static void useExclusively(SOCKET s)
{
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
}

// Creates a UDP socket and binds it; no socket stays open when the bind fails.
static int openBound(uint32_t ip, uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return -1;
    ignorePortUnreachable(s);
    if (EXCLUSIVE_PORTS)
        useExclusively(s);
    sockaddr_in address = socketAddress(ip, port);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}

int udpOpen(uint16_t port)
{
    return openBound(INADDR_ANY, port);
}

int udpOpenTunnel()
{
    return openBound(udpAddress(OWN_TUNNEL_ADDRESS), PROBE_PORT);
}

bool udpReceive(int fd, char* buffer, int& originalSize, uint32_t& srcIp, uint16_t& srcPort)
{
    if (!CHECK(fd != INVALID_SOCKET))
        return false;
    int capacity = originalSize;
    if (!CHECK(originalSize > 0))
        return false;
    sockaddr_in sender;
    int senderSize = sizeof sender;
    memset(&sender, 0, sizeof sender);
    int length = recvfrom(static_cast<SOCKET>(fd), buffer, capacity, 0,
                          reinterpret_cast<sockaddr*>(&sender), &senderSize);
    originalSize = length;
    if (length <= 0)
        return false;
    srcPort = ntohs(sender.sin_port);
    srcIp = ntohl(sender.sin_addr.s_addr);
    // The longest datagram taken is capacity - 2 bytes: one more could have been cut.
    if (length + 1 >= capacity)
        return false;
    buffer[length] = 0;
    return true;
}

bool udpSend(int fd, const char* data, int length, uint32_t dstIp, uint16_t dstPort)
{
    if (!CHECK(fd != INVALID_SOCKET))
        return false;
    int sent;
    if (dstPort == 0) {
        if (!CHECK(dstIp == 0))
            return false;
        sent = send(static_cast<SOCKET>(fd), data, length, 0);
    } else {
        if (!CHECK(dstIp != 0) || !CHECK(dstPort != 0))
            return false;
        sockaddr_in address = socketAddress(dstIp, dstPort);
        sent = sendto(static_cast<SOCKET>(fd), data, length, 0,
                      reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    return sent == length && length > 0;
}

void udpNonBlocking(int fd)
{
    u_long nonBlocking = 1;
    ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &nonBlocking);
}

void udpClose(int& fd)
{
    closesocket(static_cast<SOCKET>(fd));
    fd = -1;
}

uint32_t udpAddress(const char* dotted)
{
    return ntohl(inet_addr(dotted));
}
