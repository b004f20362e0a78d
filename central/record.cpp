#include "central/record.h"

#include <cstdio>
#include <cstring>

namespace central {

namespace {

uint32_t readLittle32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeLittle32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(value >> (8 * i));
}

void writeLittle16(uint8_t* p, uint16_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

// A text field is valid when it is not empty (unless allowed), ends with a zero
// inside the field and holds no control character before it. What follows the
// zero carries no meaning (the programs leave old text there) and is not copied.
template <size_t N>
bool readField(const uint8_t* p, bool mayBeEmpty, Field<N>& field) {
    size_t length = 0;
    while (length < N && p[length] != 0) {
        if (p[length] < 0x20 || p[length] == 0x7f) return false;
        ++length;
    }
    if (length == N || (length == 0 && !mayBeEmpty)) return false;
    field.bytes.fill(0);
    std::memcpy(field.bytes.data(), p, length);
    return true;
}

} // namespace

std::string formatAddress(uint32_t ip) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255, ip & 255);
    return text;
}

std::string format(Endpoint endpoint) { return formatAddress(endpoint.ip) + ":" + std::to_string(endpoint.port); }

template <size_t N>
std::string Field<N>::text() const {
    std::string out;
    for (char c : bytes) {
        if (c == 0) break;
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x21 && byte < 0x7f && byte != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out;
}
template struct Field<NAME_FIELD>;
template struct Field<COMPUTER_NAME_FIELD>;

const char* describe(Fault fault) {
    switch (fault) {
    case Fault::None: return "none";
    case Fault::TooShort: return "too short";
    case Fault::BadMagic: return "bad magic";
    case Fault::UnknownType: return "unknown type";
    case Fault::NotARequest: return "not a request";
    case Fault::BadLength: return "bad length";
    case Fault::BadName: return "bad name";
    case Fault::BadComputerName: return "bad computer name";
    case Fault::BadSource: return "bad source";
    }
    return "unknown fault";
}

Fault parse(const uint8_t* data, size_t size, Request& request) {
    if (size < 8) return Fault::TooShort;
    if (readLittle32(data + MAGIC_OFFSET) != uint32_t(MAGIC)) return Fault::BadMagic;
    auto type = int32_t(readLittle32(data + TYPE_OFFSET));
    if (type < MSG_REGISTER || type > MSG_PUNCH) return Fault::UnknownType;
    if (type != MSG_REGISTER && type != MSG_QUERY) return Fault::NotARequest;
    size_t expected = type == MSG_REGISTER ? SERVER_RECORD_SIZE : CLIENT_RECORD_SIZE;
    if (size != expected) return Fault::BadLength;
    request.type = type;
    if (!readField(data + NAME_OFFSET, false, request.name)) return Fault::BadName;
    request.computerName = ComputerName{};
    if (type == MSG_REGISTER && !readField(data + COMPUTER_NAME_OFFSET, true, request.computerName))
        return Fault::BadComputerName;
    return Fault::None;
}

Answer makeAnswer(int32_t type, const Name& name, Endpoint to, Endpoint peer) {
    Answer answer;
    answer.to = to;
    writeLittle32(answer.bytes.data() + TYPE_OFFSET, uint32_t(type));
    writeLittle32(answer.bytes.data() + MAGIC_OFFSET, uint32_t(MAGIC));
    writeLittle32(answer.bytes.data() + PEER_IP_OFFSET, peer.ip);
    writeLittle16(answer.bytes.data() + PEER_PORT_OFFSET, peer.port);
    std::memcpy(answer.bytes.data() + NAME_OFFSET, name.bytes.data(), NAME_FIELD);
    return answer;
}

} // namespace central
