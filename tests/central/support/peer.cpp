#include "support/peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace {

const uint32_t MAGIC = 12345;

void putText(Bytes& bytes, size_t offset, const std::string& text) {
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

sockaddr_in address(const std::string& ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) throw std::runtime_error("bad address " + ip);
    return a;
}

} // namespace

void writeLittle32(Bytes& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = uint8_t(value >> (8 * i));
}

uint32_t readLittle32(const Bytes& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

uint16_t readLittle16(const Bytes& bytes, size_t offset) {
    return uint16_t(bytes[offset] | bytes[offset + 1] << 8);
}

Bytes registerRecord(const std::string& name, const std::string& computerName) {
    Bytes bytes(52, 0);
    writeLittle32(bytes, 0, 1);
    writeLittle32(bytes, 4, MAGIC);
    putText(bytes, 14, name);
    putText(bytes, 34, computerName);
    return bytes;
}

Bytes queryRecord(const std::string& name) {
    Bytes bytes(36, 0);
    writeLittle32(bytes, 0, 3);
    writeLittle32(bytes, 4, MAGIC);
    putText(bytes, 14, name);
    return bytes;
}

Peer::Peer(const std::string& ip, uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = address(ip, port);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("cannot bind " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno));
}

Peer::~Peer() { close(fd_); }

void Peer::send(const Bytes& bytes, const std::string& to, uint16_t port) {
    sockaddr_in a = address(to, port);
    if (sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) !=
        ssize_t(bytes.size()))
        throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
}

std::optional<Received> Peer::receive(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    thread_local uint8_t buffer[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return std::nullopt;
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    return Received{Bytes(buffer, buffer + n), std::string(ip) + ":" + std::to_string(ntohs(from.sin_port)),
                    std::chrono::steady_clock::now()};
}

std::vector<Received> Peer::receiveAll(int timeoutMs) {
    std::vector<Received> all;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return all;
        if (auto got = receive(int(left.count()))) all.push_back(*got);
    }
}
