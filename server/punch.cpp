#include "punch.h"

#include "register.h"
#include "rendezvous/message.h"
#include "udp/udp.h"

RendezvousMessage clientRequest;
bool requestKept;

static const int PUNCH_BURSTS = 7;
static const int ANSWERS = 4;

void keepRequest()
{
    if (receivedSize < PEER_ADDRESS_MIN_SIZE)
        return;
    clientRequest = receivedMessage();
    requestKept = true;
}

bool requestArrived()
{
    if (requestKept) {
        requestKept = false;
        return true;
    }
    if (!receiveMessage(MSG_PEER_ADDRESS))
        return false;
    clientRequest = receivedMessage();
    return true;
}

// One MSG_PUNCH to the client's port and its four neighbours. A neighbour that
// comes out as port 0 is no destination and is skipped by sendMessage.
static void sendBurst(uint32_t clientIp, uint16_t clientPort)
{
    for (int offset = -2; offset <= 2; ++offset)
        sendMessage(MSG_PUNCH, clientIp, static_cast<uint16_t>(clientPort + offset));
}

int punchToClient()
{
    for (int burst = 1; burst <= PUNCH_BURSTS; ++burst) {
        sendBurst(clientRequest.peerIp, clientRequest.peerPort);
        waitSeconds(1);
        if (receiveMessage(MSG_PUNCH)) {
            for (int i = 0; i < ANSWERS; ++i)
                sendMessage(MSG_PUNCH, senderIp, senderPort);
            udpClose(punchSocket);
            return 0;
        }
    }
    return -1;
}
