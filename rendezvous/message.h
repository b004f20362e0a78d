// The rendezvous message and its exchange primitives. Everything the programs say
// to the central server, and to each other while they punch, is one fixed binary
// record sent as one UDP datagram from the rendezvous socket on PUNCH_PORT.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/values.h"

#define RENDEZVOUS_MAGIC 12345

#define MSG_REGISTER 1
#define MSG_REGISTERED 2
#define MSG_QUERY 3
#define MSG_NAME_TAKEN 4
#define MSG_PEER_ADDRESS 5
#define MSG_PUNCH 6

// Little-endian on the wire, as on every machine the programs run on.
struct RendezvousMessage {
    int32_t type;
    int32_t magic;
    uint32_t peerIp;   // host-order number: 1.2.3.4 travels as 04 03 02 01
    uint16_t peerPort; // 40000 travels as 40 9C
    char name[20];
#ifdef PROGRAM_SERVER
    char computerName[18];
#else
    char unused[2]; // always zero in the client's record
#endif
};

static_assert(offsetof(RendezvousMessage, type) == 0, "type at offset 0");
static_assert(offsetof(RendezvousMessage, magic) == 4, "magic at offset 4");
static_assert(offsetof(RendezvousMessage, peerIp) == 8, "peerIp at offset 8");
static_assert(offsetof(RendezvousMessage, peerPort) == 12, "peerPort at offset 12");
static_assert(offsetof(RendezvousMessage, name) == 14, "name at offset 14");
#ifdef PROGRAM_SERVER
static_assert(offsetof(RendezvousMessage, computerName) == 34, "computerName at offset 34");
static_assert(sizeof(RendezvousMessage) == 52, "the server's record is 52 bytes");
#else
static_assert(sizeof(RendezvousMessage) == 36, "the client's record is 36 bytes");
#endif

// The shortest datagram that is a message (type and magic), and the shortest
// MSG_PEER_ADDRESS (up to and including peerPort).
#define MESSAGE_MIN_SIZE 8
#define PEER_ADDRESS_MIN_SIZE 14

#define RECEIVE_CAPACITY 100

// Rendezvous state, process-wide. The socket is the client's `mysock` and the
// server's `punchSocket`; -1 when not open.
extern int rendezvousSocket;
extern char receiveBuffer[RECEIVE_CAPACITY];
extern int receivedSize;
extern uint32_t senderIp;
extern uint16_t senderPort;
extern RendezvousMessage outgoing;

// Copies a zero-terminated text into a field of the outgoing record, cut to fit.
// Bytes behind the terminating zero keep what an earlier, longer text left there.
void copyField(char* field, size_t fieldSize, const char* text);

// The message last found by a primitive, read from the receive buffer.
RendezvousMessage receivedMessage();

// Returns once the system's millisecond count has advanced by that many seconds.
// Services no window messages: the program stands still meanwhile.
void waitSeconds(int seconds);

// Sends the outgoing record with this type; true when the whole record went.
// A destination of address 0 or port 0 is no destination: nothing is sent.
bool sendMessage(int type, uint32_t dstIp, uint16_t dstPort);

// True when a message with the magic and the wanted type (0: any) was found; it is
// then in the receive buffer. Everything taken in before it is dropped. The
// client's form first waits one second.
bool receiveMessage(int wantedType);

#ifdef PROGRAM_SERVER
// The type of the first queued message that carries the magic, or -1.
int receiveAnyMessage();

// Discards every datagram queued on the rendezvous socket.
void drainMessages();
#endif
