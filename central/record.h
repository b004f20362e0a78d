// The rendezvous record as it travels between the programs and central: one UDP
// datagram, all integers little-endian. Central reads the requests of the
// programs (MSG_REGISTER from a server, MSG_QUERY from a client) and answers
// with records of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace central {

constexpr int32_t MAGIC = 12345;

constexpr int32_t MSG_REGISTER = 1;
constexpr int32_t MSG_REGISTERED = 2;
constexpr int32_t MSG_QUERY = 3;
constexpr int32_t MSG_NAME_TAKEN = 4;
constexpr int32_t MSG_PEER_ADDRESS = 5;
constexpr int32_t MSG_PUNCH = 6;

// The port the programs always send from. Routers keep it or map it to a high one,
// so a request from any other port below 1024 comes from (or pretends to come from)
// some other service: central sends nothing there.
constexpr uint16_t PUNCH_PORT = 1194;
constexpr uint16_t FIRST_HIGH_PORT = 1024;

// Offsets and sizes of the fields.
constexpr size_t TYPE_OFFSET = 0;
constexpr size_t MAGIC_OFFSET = 4;
constexpr size_t PEER_IP_OFFSET = 8;
constexpr size_t PEER_PORT_OFFSET = 12;
constexpr size_t NAME_OFFSET = 14;
constexpr size_t NAME_FIELD = 20;
constexpr size_t COMPUTER_NAME_OFFSET = 34;
constexpr size_t COMPUTER_NAME_FIELD = 18;

// A server's record (MSG_REGISTER) and a client's (MSG_QUERY).
constexpr size_t SERVER_RECORD_SIZE = 52;
constexpr size_t CLIENT_RECORD_SIZE = 36;
// Central answers with the client's layout: type, magic, peer address and the
// name the answer is about.
constexpr size_t ANSWER_SIZE = CLIENT_RECORD_SIZE;

// An IPv4 address and port, both host order (1.2.3.4 is 0x01020304).
struct Endpoint {
    uint32_t ip = 0;
    uint16_t port = 0;
    bool operator==(const Endpoint& other) const { return ip == other.ip && port == other.port; }
    bool operator!=(const Endpoint& other) const { return !(*this == other); }
};

std::string format(Endpoint endpoint); // "1.2.3.4:40000"
std::string formatAddress(uint32_t ip); // "1.2.3.4"

// A text field's content, zero-padded to the field's size, so that two names
// compare and hash as plain bytes.
template <size_t N>
struct Field {
    std::array<char, N> bytes{};
    bool operator==(const Field& other) const { return bytes == other.bytes; }
    bool operator!=(const Field& other) const { return bytes != other.bytes; }
    std::string text() const; // printable, with anything unusual escaped
};
using Name = Field<NAME_FIELD>;
using ComputerName = Field<COMPUTER_NAME_FIELD>;

// Why a datagram was not used.
enum class Fault {
    None,
    TooShort,       // fewer than the 8 bytes of type and magic
    BadMagic,
    UnknownType,
    NotARequest,    // a type central sends or the peers exchange, never one it takes
    BadLength,      // a request of another size than its sender's record
    BadName,        // empty, unterminated in its field, or with control characters
    BadComputerName,
    BadSource,      // source address or port 0
};
const char* describe(Fault fault);

// A request that passed every check.
struct Request {
    int32_t type = 0;
    Name name;
    ComputerName computerName; // MSG_REGISTER only
};

// Checks a received datagram and takes the request out of it. Reads nothing
// outside [data, data + size).
Fault parse(const uint8_t* data, size_t size, Request& request);

// An answer to send: MSG_REGISTERED, MSG_NAME_TAKEN or MSG_PEER_ADDRESS.
struct Answer {
    Endpoint to;
    std::array<uint8_t, ANSWER_SIZE> bytes{};
};

// peer is written into peerIp and peerPort (zero in anything but MSG_PEER_ADDRESS).
Answer makeAnswer(int32_t type, const Name& name, Endpoint to, Endpoint peer = {});

} // namespace central
