// Parties played by threads of the test: a central server and the other side's
// public address while it punches.
#pragma once

#include <atomic>
#include <set>
#include <memory>
#include <thread>

#include "support/net.h"

// Plays the central server at an address: takes the first datagram (the query or
// registration), waits delayMs and sends the reply (if any) to its source. Then it
// counts what else arrives for watchMs.
class ScriptedCentral {
public:
    ScriptedCentral(const std::string& address, std::vector<unsigned char> reply,
                    int delayMs = 0, int watchMs = 0);
    ~ScriptedCentral();
    ScriptedCentral(const ScriptedCentral&) = delete;
    ScriptedCentral& operator=(const ScriptedCentral&) = delete;

    // Waits for the thread; afterwards `request` holds what arrived first.
    void join();
    std::vector<unsigned char> request;
    // Datagrams that arrived after the first, while watching.
    int later = 0;

private:
    Party party_;
    std::thread thread_;
};

std::string dottedOf(uint32_t ip);

// A datagram that a ProbeCollector took in.
struct Arrival {
    uint16_t port;    // where it arrived
    uint16_t srcPort; // where it came from
    std::vector<unsigned char> bytes;
};

// Plays the other side's public address while it punches: records every datagram
// that arrives at the given ports of an address (and at answerFrom), in the order of
// arrival. One packet socket on lo sees them all, so that order holds across ports.
// When answerFrom is set, the first datagram is answered by one MSG_PUNCH of
// answerSize bytes, sent from that port to the datagram's source.
class ProbeCollector {
public:
    ProbeCollector(const std::string& address, std::vector<uint16_t> ports,
                   uint16_t answerFrom = 0, size_t answerSize = 52);
    ~ProbeCollector();
    ProbeCollector(const ProbeCollector&) = delete;
    ProbeCollector& operator=(const ProbeCollector&) = delete;

    // Stops listening and gives everything taken in, in order of arrival.
    std::vector<Arrival> arrivals();

private:
    void collect(uint16_t answerFrom, size_t answerSize);
    bool isArrival(const unsigned char* packet, size_t size, Arrival& arrival,
                   uint32_t& srcIp) const;
    void stop();
    uint32_t address_;
    std::set<uint16_t> ports_;
    int capture_;
    std::unique_ptr<Party> answering_;
    std::vector<Arrival> arrivals_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Plays the central server for a server program over many rounds: answers every
// MSG_REGISTER with the type in `answer` (0: no answer), counts registrations, and
// can tell the last registered server that a client wants it.
class LoopingCentral {
public:
    explicit LoopingCentral(const std::string& address);
    ~LoopingCentral();
    LoopingCentral(const LoopingCentral&) = delete;
    LoopingCentral& operator=(const LoopingCentral&) = delete;

    std::atomic<int> answer{2};
    std::atomic<int> registrations{0};
    // Sends MSG_PEER_ADDRESS naming the client to the last registered server.
    void requestFrom(uint32_t clientIp, uint16_t clientPort);

private:
    Party party_;
    std::atomic<uint32_t> serverIp_{0};
    std::atomic<uint16_t> serverPort_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};
