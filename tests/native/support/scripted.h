// Parties played by the test: a central server and the other side's public address
// while it punches. They act on the test clock: at each of its moves (the program's
// waits, a timer tick) they take in what has arrived and answer when their moment
// has come, in the program's own thread.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <set>

#include "control.h"
#include "support/net.h"

// Does something once, when the test clock has moved on by delayMs.
class Later {
public:
    Later(int delayMs, std::function<void()> action);

private:
    platform::ClockListener listener_;
};

// Plays the central server at an address: the first datagram that arrives there
// (the query or registration) is answered by `reply` (if any), delayMs later, at
// its source. Whatever arrives after it is counted.
class ScriptedCentral {
public:
    ScriptedCentral(const std::string& address, std::vector<unsigned char> reply,
                    int delayMs = 0);

    // What arrived first; empty when nothing did.
    const std::vector<unsigned char>& request();
    // Datagrams that arrived after the first.
    int later();

private:
    void look();
    Party party_;
    std::vector<unsigned char> reply_;
    int delayMs_;
    std::vector<unsigned char> request_;
    uint32_t fromIp_ = 0;
    uint16_t fromPort_ = 0;
    uint64_t replyAt_ = 0;
    bool replied_ = false;
    int later_ = 0;
    platform::ClockListener listener_; // last: made after, and ended before, what look() uses
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

    // Everything taken in, in order of arrival.
    std::vector<Arrival> arrivals();

private:
    void look();
    bool isArrival(const unsigned char* packet, size_t size, Arrival& arrival,
                   uint32_t& srcIp) const;
    uint32_t address_;
    std::set<uint16_t> ports_;
    int capture_;
    std::unique_ptr<Party> answering_;
    size_t answerSize_;
    bool answered_ = false;
    std::vector<Arrival> arrivals_;
    platform::ClockListener listener_; // last: made after, and ended before, what look() uses
};

// Plays the central server for a server program over many rounds: answers every
// MSG_REGISTER with the type in `answer` (0: no answer), counts registrations, and
// can tell the last registered server that a client wants it.
class LoopingCentral {
public:
    explicit LoopingCentral(const std::string& address);

    int answer = 2;
    int registrations();
    // Sends MSG_PEER_ADDRESS naming the client to the last registered server.
    void requestFrom(uint32_t clientIp, uint16_t clientPort);

private:
    void look();
    Party party_;
    uint32_t serverIp_ = 0;
    uint16_t serverPort_ = 0;
    int registrations_ = 0;
    platform::ClockListener listener_; // last: made after, and ended before, what look() uses
};
