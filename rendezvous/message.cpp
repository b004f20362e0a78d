#include "message.h"

#include <windows.h>

#include <cstring>

#include "udp/udp.h"

int rendezvousSocket = -1;
char receiveBuffer[RECEIVE_CAPACITY];
int receivedSize;
uint32_t senderIp;
uint16_t senderPort;
RendezvousMessage outgoing;

void copyField(char* field, size_t fieldSize, const char* text)
{
    size_t length = strnlen(text, fieldSize - 1);
    memcpy(field, text, length);
    field[length] = 0;
}

RendezvousMessage receivedMessage()
{
    RendezvousMessage message;
    memset(&message, 0, sizeof message);
    size_t size = receivedSize > 0 ? static_cast<size_t>(receivedSize) : 0;
    memcpy(&message, receiveBuffer, size < sizeof message ? size : sizeof message);
    return message;
}

void waitSeconds(int seconds)
{
    // On the 64-bit count of milliseconds: the C runtime's clock() is a 32-bit count
    // that overflows after about 24.8 days, and a server is left running that long.
    ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    // Yields the processor between looks at the clock instead of spinning a core.
    while (GetTickCount64() < end)
        Sleep(1);
}

bool sendMessage(int type, uint32_t dstIp, uint16_t dstPort)
{
    outgoing.type = type;
    outgoing.magic = RENDEZVOUS_MAGIC;
    if (dstIp == 0 || dstPort == 0)
        return false;
    return udpSend(rendezvousSocket, reinterpret_cast<const char*>(&outgoing), sizeof outgoing,
                   dstIp, dstPort);
}

// Takes the next datagram into the receive buffer; false when nothing usable is queued.
static bool takeDatagram()
{
    receivedSize = RECEIVE_CAPACITY;
    return udpReceive(rendezvousSocket, receiveBuffer, receivedSize, senderIp, senderPort);
}

static int32_t fieldAt(size_t offset)
{
    int32_t value;
    memcpy(&value, receiveBuffer + offset, sizeof value);
    return value;
}

static bool carriesMagic()
{
    return receivedSize >= MESSAGE_MIN_SIZE && fieldAt(4) == RENDEZVOUS_MAGIC;
}

static bool isWanted(int wantedType)
{
    if (wantedType != 0 && fieldAt(0) != wantedType)
        return false;
    return fieldAt(0) != MSG_PEER_ADDRESS || receivedSize >= PEER_ADDRESS_MIN_SIZE;
}

bool receiveMessage(int wantedType)
{
#ifdef PROGRAM_CLIENT
    waitSeconds(1);
#endif
    while (takeDatagram())
        if (carriesMagic() && isWanted(wantedType))
            return true;
    return false;
}

#ifdef PROGRAM_SERVER
int receiveAnyMessage()
{
    while (takeDatagram())
        if (carriesMagic())
            return fieldAt(0);
    return -1;
}

void drainMessages()
{
    while (takeDatagram()) {
    }
}
#endif
