#include "register.h"

#include <winsock2.h>

#include "rendezvous/discovery.h"
#include "rendezvous/message.h"
#include "udp/udp.h"

int& punchSocket = rendezvousSocket;
char computerName[16];

int openPunchSocket()
{
    if (punchSocket != -1)
        return 0;
    punchSocket = udpOpen(PUNCH_PORT);
    if (punchSocket == -1)
        return -1;
    u_long nonBlocking = 1;
    ioctlsocket(static_cast<SOCKET>(punchSocket), FIONBIO, &nonBlocking);
    return 0;
}

// The answer found by one look: 1, 0, or -1 for nothing usable.
static int lookForAnswer()
{
    int type = receiveAnyMessage();
    if (type == MSG_REGISTERED)
        return 1;
    if (type == MSG_NAME_TAKEN)
        return 0;
    return -1;
}

int registerName(const char* name)
{
    copyField(outgoing.name, sizeof outgoing.name, name);
    copyField(outgoing.computerName, sizeof outgoing.computerName, computerName);
    sendMessage(MSG_REGISTER, centralIp, CENTRAL_PORT);
    waitSeconds(1);
    int answer = lookForAnswer();
    if (answer != -1)
        return answer;
    waitSeconds(1);
    return lookForAnswer();
}
