// What central does with one datagram: check it, register or look up the name,
// and say what to send. No sockets and no clock of its own (the caller passes
// the time in ms), so the same code serves the service, the tests and the fuzzer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "central/limits.h"
#include "central/log.h"
#include "central/record.h"
#include "central/registry.h"

namespace central {

struct Settings {
    int64_t expiryMs = 120000;       // a registration not refreshed for this long lapses
    size_t maxNames = 1000000;       // cap on the table; new names past it get no answer
    int64_t peerIntervalMs = 2000;   // at most one MSG_PEER_ADDRESS pair per name this often
    unsigned sourceRate = 20;        // requests per second per source address; 0: no limit
    size_t maxSources = 65536;       // source addresses tracked per second
};

struct Counters {
    uint64_t received = 0;
    uint64_t registered = 0;
    uint64_t refreshed = 0;
    uint64_t nameTaken = 0;
    uint64_t tableFull = 0;
    uint64_t expired = 0;
    uint64_t answered = 0;      // queries answered with a MSG_PEER_ADDRESS pair
    uint64_t unknownName = 0;
    uint64_t nameLimited = 0;   // queries refused: the name was sent a peer address too recently
    uint64_t sourceLimited = 0; // requests refused: their source asked too often
    uint64_t malformed = 0;     // datagrams dropped by the checks
};

class Handler {
public:
    Handler(const Settings& settings, EventLog& log);

    // Handles one datagram from `from`; what to send is appended to answers.
    void handle(const uint8_t* data, size_t size, Endpoint from, int64_t now, std::vector<Answer>& answers);

    // Removes registrations that have lapsed by now.
    void expire(int64_t now);

    const Counters& counters() const { return counters_; }
    size_t names() const { return registry_.size(); }
    std::string summary() const; // the counters as one log line

private:
    void enroll(const Request& request, Endpoint from, int64_t now, std::vector<Answer>& answers);
    void query(const Request& request, Endpoint from, int64_t now, std::vector<Answer>& answers);

    Settings settings_;
    EventLog& log_;
    Registry registry_;
    SourceLimit sourceLimit_;
    Counters counters_;
};

} // namespace central
