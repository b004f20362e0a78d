// A test's stand-in for a server or a client: a UDP socket on a loopback
// address of its own, sending hand-built records to central and taking what
// comes back.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The server's 52-byte MSG_REGISTER and the client's 36-byte MSG_QUERY, laid out
// byte by byte as the programs send them.
Bytes registerRecord(const std::string& name, const std::string& computerName);
Bytes queryRecord(const std::string& name);

uint32_t readLittle32(const Bytes& bytes, size_t offset);
uint16_t readLittle16(const Bytes& bytes, size_t offset);
void writeLittle32(Bytes& bytes, size_t offset, uint32_t value);

struct Received {
    Bytes bytes;
    std::string from; // "a.b.c.d:port"
    std::chrono::steady_clock::time_point at;
};

class Peer {
public:
    Peer(const std::string& address, uint16_t port);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // To central (127.0.0.1:3478 unless told otherwise).
    void send(const Bytes& bytes, const std::string& to = "127.0.0.1", uint16_t port = 3478);
    std::optional<Received> receive(int timeoutMs);
    // Everything that arrives within timeoutMs.
    std::vector<Received> receiveAll(int timeoutMs);

private:
    int fd_;
};
