// The relays: for every pair that central has told about each other (a client
// and the server it asked for), an offer to pass their datagrams on, made some
// time after the answer, when a punch that works has already got through. The
// offer goes to the server first, and to the client only once the server has
// taken it (sent something back): a server that punched through no longer answers
// on that port, so a client is never left with a relay its server cannot use, and
// a slow pair that can punch stays direct. A side that takes the offer talks to
// central's port from then on, and central passes each of its datagrams to the
// other half of the pair, only there, and only while that half itself has sent
// something lately (its consent): an address that never answers gets the one offer
// and nothing else. A datagram that comes back from a half exactly as central passed
// it there is an echo: the relay ends, so that two hosts that answer everything
// cannot be made into a loop through it.
//
// An address belongs to at most one relay, so a datagram names its relay by its
// source alone. Offers cost only memory and wait in a large table; relays in use
// carry bandwidth and have a cap of their own, in all and per source address.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>

#include "central/record.h"

namespace central {

struct EndpointHash {
    size_t operator()(Endpoint endpoint) const noexcept {
        return std::hash<uint64_t>()(uint64_t(endpoint.ip) << 16 | endpoint.port);
    }
};

struct Relay {
    uint64_t id = 0;
    Name name;
    Endpoint client;          // where the query came from
    Endpoint server;          // where the name was registered from
    int64_t offerAt = 0;      // ms: when the offer goes to the server
    bool offeredToServer = false;
    bool offeredToClient = false; // once the server has taken its offer
    int64_t lastAt = 0;       // ms: the offer, then the last datagram passed on
    uint64_t datagrams = 0;   // passed on, both ways
    uint64_t bytes = 0;
    uint64_t limited = 0;     // dropped by the rate cap
    uint64_t unconsented = 0; // dropped: the half it was for had not sent lately
    int64_t credit = 0;       // what the rate cap still allows, in byte-milliseconds
    int64_t creditAt = 0;     // ms: when credit was last topped up
    bool used = false;        // it has passed a datagram on and counts against the caps of use
    // ms: the last datagram from each half since the offer; -1: none yet.
    int64_t heardFromClient = -1;
    int64_t heardFromServer = -1;
    // The fingerprint of the last datagram passed on to each half; 0: none yet.
    uint64_t passedToClient = 0;
    uint64_t passedToServer = 0;

    bool inUse() const { return used; }
    // The other half of the pair (from is one of the two).
    Endpoint peerOf(Endpoint from) const { return from == client ? server : client; }
    int64_t& heardFrom(Endpoint half) { return half == client ? heardFromClient : heardFromServer; }
    uint64_t& passedTo(Endpoint half) { return half == client ? passedToClient : passedToServer; }
    bool offeredTo(Endpoint half) const { return half == client ? offeredToClient : offeredToServer; }
    // Whether half has sent something since the offer and within the last consentMs.
    bool consents(Endpoint half, int64_t now, int64_t consentMs) const {
        int64_t heard = half == client ? heardFromClient : heardFromServer;
        return heard >= 0 && now - heard < consentMs;
    }
};

// A datagram's fingerprint (never 0): two datagrams with the same one are, but for
// a chance of one in 2^63, the same bytes. Computed for every datagram a relay
// passes on, so it takes eight bytes at a step.
uint64_t fingerprint(const uint8_t* data, size_t size);

class RelayTable {
public:
    // maxRelays: relays in use at once; maxOffers: offers not (yet) in use;
    // sourceRelays: relays in use that one source address takes part in; rate: bytes
    // per second per relay, both ways together (0: no cap).
    RelayTable(size_t maxRelays, size_t maxOffers, size_t sourceRelays, uint64_t rate);
    RelayTable(const RelayTable&) = delete;
    RelayTable& operator=(const RelayTable&) = delete;

    // What keeps a pair from its relay, if anything.
    enum class Refusal {
        None,
        Busy,       // an address of the pair is in a relay in use
        Full,       // the relays in use, or the offers, are at their cap
        SourceFull, // an address of the pair takes part in sourceRelays relays in use
    };
    // A new pair; None: its offer goes out at offerAt. Relays that hold one of its
    // addresses and have carried nothing yet make way for it (replaced is told about
    // each before it goes); one in use keeps its addresses.
    Refusal open(const Name& name, Endpoint client, Endpoint server, int64_t offerAt,
                 const std::function<void(const Relay&)>& replaced);

    // Takes an offered relay into use, when the caps of use leave room for it (None).
    Refusal use(Relay& relay);

    // The relay that holds this address, or nullptr.
    Relay* holding(Endpoint address);

    // Whether the rate cap lets size more bytes through this relay now.
    bool admit(Relay& relay, size_t size, int64_t now);

    void end(const Relay& relay);

    // Marks every relay whose offer is due by now as offered to its server, telling
    // offer about each.
    void offerDue(int64_t now, const std::function<void(Relay&)>& offer);
    // When the next offer is due (ms), or -1 when none is waiting.
    int64_t nextOfferAt() const;

    // Ends relays that passed nothing on for idleMs, relays in use for lifetimeMs
    // since their offer, and offers nothing came back to within untakenMs, telling
    // gone about each (and why) before it goes.
    void expire(int64_t now, int64_t idleMs, int64_t lifetimeMs, int64_t untakenMs,
                const std::function<void(const Relay&, const char*)>& gone);

    size_t size() const { return relays_.size(); }
    size_t inUse() const { return inUse_; }
    size_t offers() const { return relays_.size() - inUse_; } // offered or waiting, not in use
    // The relays in use that this source address takes part in.
    size_t inUseBy(uint32_t ip) const;

private:
    int64_t fullCredit() const;
    Refusal room(Endpoint client, Endpoint server) const; // for one more relay in use
    void countSources(const Relay& relay, int change);

    size_t maxRelays_;
    size_t maxOffers_;
    size_t sourceRelays_;
    uint64_t rate_;
    size_t inUse_ = 0;
    uint64_t nextId_ = 0;
    uint64_t firstPending_ = 0; // relays from this id on may still wait for their offer
    // By id, which is the order of creation and so of the offers (each comes the
    // same time after its pair's answer).
    std::map<uint64_t, Relay> relays_;
    std::unordered_map<Endpoint, uint64_t, EndpointHash> byAddress_;
    std::unordered_map<uint32_t, size_t> inUseBySource_; // only addresses with relays in use
};

} // namespace central
