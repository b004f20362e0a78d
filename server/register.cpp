#include "register.h"

#include "rendezvous/discovery.h"
#include "rendezvous/message.h"
#include "server/punch.h"
#include "udp/udp.h"

int& punchSocket = rendezvousSocket;
char computerName[16];
bool centralSilent;

int openPunchSocket()
{
    if (punchSocket != -1)
        return 0;
    punchSocket = udpOpen(PUNCH_PORT);
    if (punchSocket == -1)
        return -1;
    udpNonBlocking(punchSocket);
    return 0;
}

// The answer found by one look: 1, 0, or -1 for nothing usable. A client's request
// met on the way is no answer: it is kept, and the dialog punches once registered.
static int lookForAnswer()
{
    int type;
    while ((type = receiveAnyMessage()) == MSG_PEER_ADDRESS)
        keepRequest();
    if (type == MSG_REGISTERED)
        return 1;
    if (type == MSG_NAME_TAKEN)
        return 0;
    return -1;
}

int registerName(const char* name)
{
    // The central host's name may point elsewhere by now (a dynamic-DNS name moves
    // with its machine's address): after a silence it is resolved again.
    if (centralSilent)
        findCentralServer();
    requestKept = false; // one from before this registration is stale
    copyField(outgoing.name, sizeof outgoing.name, name);
    copyField(outgoing.computerName, sizeof outgoing.computerName, computerName);
    sendMessage(MSG_REGISTER, centralIp, CENTRAL_PORT);
    waitSeconds(1);
    int answer = lookForAnswer();
    if (answer == -1) {
        waitSeconds(1);
        answer = lookForAnswer();
    }
    centralSilent = answer == -1;
    return answer;
}
