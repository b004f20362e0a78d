// A host of the benchmarks' stories: a UDP socket on a loopback address of its own
// (non-blocking), which sends hand-built records to central at 127.0.0.1:PORT and
// takes what comes back. Shared by central_spoof and central_abuse.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "central/record.h"

namespace central::bench {

inline int64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

inline void putLittle32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

inline uint32_t little32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Host {
    int fd = -1;
    sockaddr_in central{};

    Host(const std::string& ip, uint16_t port, int centralPort) {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::perror(("bind " + ip).c_str());
            std::exit(1);
        }
        central.sin_family = AF_INET;
        central.sin_port = htons(uint16_t(centralPort));
        inet_pton(AF_INET, "127.0.0.1", &central.sin_addr);
    }
    ~Host() { close(fd); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // To central, or to another address.
    void send(const uint8_t* data, size_t size, const sockaddr_in* to = nullptr) const {
        if (!to) to = &central;
        sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(to), sizeof *to);
    }
    void send(const std::vector<uint8_t>& data, const sockaddr_in* to = nullptr) const {
        send(data.data(), data.size(), to);
    }

    // A request record: MSG_REGISTER (with a computer name) or MSG_QUERY.
    void request(int32_t type, const std::string& name) const {
        uint8_t record[SERVER_RECORD_SIZE]{};
        putLittle32(record, uint32_t(type));
        putLittle32(record + MAGIC_OFFSET, uint32_t(MAGIC));
        std::snprintf(reinterpret_cast<char*>(record + NAME_OFFSET), NAME_FIELD, "%s", name.c_str());
        if (type == MSG_REGISTER) std::snprintf(reinterpret_cast<char*>(record + COMPUTER_NAME_OFFSET), 8, "PC01");
        send(record, type == MSG_REGISTER ? SERVER_RECORD_SIZE : CLIENT_RECORD_SIZE);
    }

    // The next datagram within timeoutMs, with its sender; false when none came.
    bool receive(int timeoutMs, std::vector<uint8_t>& datagram, sockaddr_in& from) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        static uint8_t buffer[65536];
        socklen_t length = sizeof from;
        ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) return false;
        datagram.assign(buffer, buffer + n);
        return true;
    }
};

} // namespace central::bench
