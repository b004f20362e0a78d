// Test helpers for the network inside a test's private namespace, and a private
// working directory per test.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Adds an IPv4 address to lo (the test runs in its own network namespace).
void addLocalAddress(const std::string& address);
void removeLocalAddress(const std::string& address);

uint32_t ipOf(const std::string& dotted);

// A plain UDP socket that plays another party (central server, peer) in a test.
class Party {
public:
    Party(const std::string& address, uint16_t port);
    ~Party();
    Party(const Party&) = delete;
    Party& operator=(const Party&) = delete;

    void sendTo(const std::vector<unsigned char>& bytes, const std::string& address,
                uint16_t port) const;
    // The next datagram, or an empty vector: on the test clock, where everything
    // sent has arrived, at once; on the real clock after up to timeoutMs. Sets
    // fromIp/fromPort.
    std::vector<unsigned char> receive(int timeoutMs, uint32_t* fromIp = nullptr,
                                       uint16_t* fromPort = nullptr) const;
    int fd() const { return fd_; }

private:
    int fd_;
};

// Bytes of a rendezvous message as the central server or a peer sends it.
std::vector<unsigned char> messageBytes(int32_t type, int32_t magic = 12345,
                                        uint32_t peerIp = 0, uint16_t peerPort = 0,
                                        size_t size = 36);

// Makes a fresh directory and enters it; leaves and removes it at the end.
class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    const std::string& path() const { return path_; }

private:
    std::string previous_;
    std::string path_;
};
