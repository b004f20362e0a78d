// Exchanges one rendezvous message each way on loopback through the real Winsock,
// with the server's build of the datagram endpoint and primitives. Prints what it
// saw and exits 0 when both directions carried the exact record.
#include <winsock2.h>

#include <cstdio>
#include <cstring>

#include "rendezvous/message.h"
#include "udp/udp.h"

static int fail(const char* what)
{
    printf("FAIL %s\n", what);
    return 1;
}

int main()
{
    udpStartup();
    const uint32_t loopback = 0x7F000001;
    const uint16_t otherPort = 40000;

    rendezvousSocket = udpOpen(PUNCH_PORT);
    int other = udpOpen(otherPort);
    if (rendezvousSocket == -1 || other == -1)
        return fail("open");
    u_long nonBlocking = 1;
    ioctlsocket(rendezvousSocket, FIONBIO, &nonBlocking);
    ioctlsocket(other, FIONBIO, &nonBlocking);

    // Out: a MSG_REGISTER of 52 bytes reaches the other socket whole.
    strcpy(outgoing.name, "office");
    strcpy(outgoing.computerName, "PC01");
    if (!sendMessage(MSG_REGISTER, loopback, otherPort))
        return fail("send");
    waitSeconds(1);
    char buffer[100];
    int size = 100;
    uint32_t ip = 0;
    uint16_t port = 0;
    if (!udpReceive(other, buffer, size, ip, port) || size != 52)
        return fail("receive of the register message");
    if (memcmp(buffer, &outgoing, 52) != 0 || ip != loopback || port != PUNCH_PORT)
        return fail("content of the register message");

    // In: a MSG_PEER_ADDRESS behind a datagram without magic is found.
    RendezvousMessage noise = {};
    udpSend(other, reinterpret_cast<char*>(&noise), 36, loopback, PUNCH_PORT);
    RendezvousMessage answer = {};
    answer.type = MSG_PEER_ADDRESS;
    answer.magic = RENDEZVOUS_MAGIC;
    answer.peerIp = 0x01020304;
    answer.peerPort = 40000;
    udpSend(other, reinterpret_cast<char*>(&answer), 36, loopback, PUNCH_PORT);
    waitSeconds(1);
    if (!receiveMessage(MSG_PEER_ADDRESS))
        return fail("receive of the peer address");
    RendezvousMessage found = receivedMessage();
    if (found.peerIp != 0x01020304 || found.peerPort != 40000 || senderPort != otherPort)
        return fail("content of the peer address");

    // Winsock's own rule: a datagram longer than the buffer fails the receive.
    char big[150] = {};
    udpSend(other, big, sizeof big, loopback, PUNCH_PORT);
    waitSeconds(1);
    size = 100;
    if (udpReceive(rendezvousSocket, buffer, size, ip, port) || size != -1)
        return fail("oversized datagram");

    printf("OK loopback exchange\n");
    return 0;
}
