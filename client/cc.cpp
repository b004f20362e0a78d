#include "cc.h"

#include <windows.h>

#include "common/assertion.h"
#include "rendezvous/discovery.h"
#include "rendezvous/message.h"
#include "rendezvous/openvpn.h"
#include "udp/udp.h"

int& mysock = rendezvousSocket;
uint32_t peerIp;
uint16_t peerPort;

static const int PUNCH_BURSTS = 7;
static const int ANSWERS = 4;

static int giveUp()
{
    udpClose(mysock);
    return -1;
}

// One MSG_PUNCH to each of the server's port and its four neighbours. A neighbour
// that comes out as port 0 is no destination and is skipped by sendMessage.
static void sendBurst()
{
    for (int offset = -2; offset <= 2; ++offset)
        sendMessage(MSG_PUNCH, peerIp, static_cast<uint16_t>(peerPort + offset));
}

// Bursts until a probe of the server arrives; true when one did. Its sender is then
// in senderIp/senderPort and has been answered four times.
static bool punch()
{
    for (int burst = 1; burst <= PUNCH_BURSTS; ++burst) {
        sendBurst();
        if (receiveMessage(MSG_PUNCH)) {
            for (int i = 0; i < ANSWERS; ++i)
                sendMessage(MSG_PUNCH, senderIp, senderPort);
            return true;
        }
    }
    return false;
}

int connectToServer(const char* userName)
{
    findCentralServer();
    mysock = udpOpen(PUNCH_PORT);
    if (!CHECK(mysock != INVALID_SOCKET))
        return -1;
    udpNonBlocking(mysock);

    copyField(outgoing.name, sizeof outgoing.name, userName);
    sendMessage(MSG_QUERY, centralIp, CENTRAL_PORT);
    if (!receiveMessage(MSG_PEER_ADDRESS))
        return giveUp();
    RendezvousMessage reply = receivedMessage();
    peerIp = reply.peerIp;
    peerPort = reply.peerPort;

    sendMessage(MSG_PUNCH, peerIp, peerPort);
    if (!punch())
        return giveUp();
    udpClose(mysock);

    // Without op.bat no OpenVPN could start: that is a failed Connect, not a success.
    if (!writeOpBat(senderIp, senderPort))
        return -1;
    startCommand(OP_BAT_COMMAND, SW_HIDE);
    return 0;
}
