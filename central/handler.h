// What central does with one datagram: check it, register or look up the name,
// or pass it on through a relay, and say what to send. No sockets and no clock of
// its own (the caller passes the time in ms), so the same code serves the
// service, the tests and the fuzzer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "central/limits.h"
#include "central/log.h"
#include "central/record.h"
#include "central/registry.h"
#include "central/relay.h"

namespace central {

struct Settings {
    int64_t expiryMs = 120000;       // a registration not refreshed for this long lapses
    size_t maxNames = 1000000;       // cap on the table; new names past it get no answer
    int64_t peerIntervalMs = 2000;   // at most one MSG_PEER_ADDRESS pair per name this often
    unsigned sourceRate = 20;        // requests per second per source address; 0: no limit
    size_t maxSources = 65536;       // source addresses tracked per second
    int64_t relayAfterMs = 2500;     // a relay is offered this long after a query is answered; 0: never
    size_t maxRelays = 100;          // relays in use at once; pairs past it get no offer
    size_t maxOffers = 65536;        // offers not in use (memory only); pairs past it get none
    size_t sourceRelays = 10;        // relays in use that one source address takes part in
    int64_t relayConsentMs = 30000;  // a half that sent nothing for this long is passed nothing
    uint64_t relayRate = 500000;     // bytes per second through one relay, both ways together; 0: no cap
    int64_t relayIdleMs = 60000;     // a relay that passed nothing on for this long ends
    int64_t relayLifetimeMs = 8 * 3600 * 1000; // a relay in use ends this long after its offer
    int64_t keepaliveMs = 15000;     // a registered server is sent a keepalive this long after; 0: never
};

// A relay offer that nothing came back to within this long was not taken: by then
// both sides have either punched through or given up.
constexpr int64_t RELAY_UNTAKEN_MS = 10000;

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
    uint64_t lowPort = 0;       // datagrams dropped: from a port below 1024 other than 1194
    uint64_t relayOffered = 0;  // offers sent to servers
    uint64_t relayTaken = 0;    // offers a server took, which then went to its client
    uint64_t relayUsed = 0;     // relays that passed on at least one datagram
    uint64_t relayEnded = 0;
    uint64_t relayFull = 0;     // pairs refused a relay: the relays in use or the offers were at their cap
    uint64_t relayBusy = 0;     // pairs not offered a relay: an address was in a relay in use
    uint64_t relaySourceFull = 0; // pairs refused a relay: an address took part in sourceRelays in use
    uint64_t relayed = 0;       // datagrams passed on
    uint64_t relayedBytes = 0;
    uint64_t relayLimited = 0;  // datagrams dropped by a relay's rate cap
    uint64_t relayUnconsented = 0; // datagrams dropped: the half they were for had not sent lately
    uint64_t relayLoops = 0;    // relays ended: a half sent back what it was passed
    uint64_t keepalives = 0;    // keepalives sent to waiting servers
};

class Handler {
public:
    Handler(const Settings& settings, EventLog& log);

    // Handles one datagram from `from`; what to send is appended to answers. Returns
    // where to pass the datagram itself on, unchanged, when it is relay traffic (the
    // other half of its pair), else an endpoint with address 0.
    Endpoint handle(const uint8_t* data, size_t size, Endpoint from, int64_t now, std::vector<Answer>& answers);

    // Appends the relay offers due by now (a MSG_PUNCH to the server of each pair; its
    // client is offered once the server has taken it).
    void offerRelays(int64_t now, std::vector<Answer>& answers);
    // When offerRelays next has something to send (ms), or -1.
    int64_t nextOfferAt() const { return relays_.nextOfferAt(); }

    // Appends the keepalives due by now. A waiting server registers about every 33 s
    // and hears nothing from central in between, but a router may forget the flow
    // towards central after 30 s without a datagram (Linux's default for a flow
    // whose answer came at once), and a client asking in the cycle's last seconds
    // would have the server's peer address dropped there. So each registration
    // gets one datagram to the server's address --keepalive later, which renews
    // that flow (a Linux router then keeps it for 120 s): ANSWER_SIZE zero bytes,
    // without the magic, which the programs drop unread. Not to a server that was
    // sent a peer address since (it punches, or its OpenVPN runs there).
    void keepAlive(int64_t now, std::vector<Answer>& answers);

    // Removes registrations that have lapsed by now, and relays that ended.
    void expire(int64_t now);

    const Counters& counters() const { return counters_; }
    size_t names() const { return registry_.size(); }
    size_t relays() const { return relays_.size(); } // offered or in use
    size_t relaysInUse() const { return relays_.inUse(); }
    std::string summary() const; // the counters as one log line

private:
    void enroll(const Request& request, Endpoint from, int64_t now, std::vector<Answer>& answers);
    void query(const Request& request, Endpoint from, int64_t now, std::vector<Answer>& answers);
    void openRelay(const Name& name, Endpoint client, Endpoint server, int64_t now);
    Endpoint pass(Relay& relay, Endpoint from, const uint8_t* data, size_t size, int64_t now,
                  std::vector<Answer>& answers);
    void offerToClient(Relay& relay, int64_t now, std::vector<Answer>& answers);
    // Counts a refusal and says what it was.
    std::string refused(RelayTable::Refusal refusal, Endpoint client, Endpoint server);
    void ended(const Relay& relay, const std::string& why, int64_t now); // counts and logs it
    void endRelay(const Relay& relay, const std::string& why, int64_t now);

    Settings settings_;
    EventLog& log_;
    Registry registry_;
    SourceLimit sourceLimit_;
    RelayTable relays_;
    Counters counters_;
};

} // namespace central
