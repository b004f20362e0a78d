#include "central/handler.h"

#include <algorithm>

namespace central {

Handler::Handler(const Settings &settings, EventLog &log)
    : settings_(settings), log_(log), registry_(settings.expiryMs, settings.maxNames),
      sourceLimit_(settings.sourceRate, settings.maxSources),
      relays_(settings.maxRelays, settings.maxOffers, settings.sourceRelays, settings.relayRate) {}

namespace {

std::string pair(const Relay &relay) {
    return "name=" + relay.name.text() + " client=" + format(relay.client) + " server=" + format(relay.server);
}

// The programs send from PUNCH_PORT, which their routers keep or map to a high port;
// below 1024 live the services that answer every datagram (echo, chargen, DNS...).
bool fromLowPort(Endpoint from) { return from.port < FIRST_HIGH_PORT && from.port != PUNCH_PORT; }

// Whether a datagram is, byte for byte, central's own offer to the pair: what the
// client sends back to take it, and what an echoing host sends back.
bool isOffer(const Relay &relay, const uint8_t *data, size_t size) {
    if (size != ANSWER_SIZE) return false;
    Answer offer = makeAnswer(MSG_PUNCH, relay.name, relay.client);
    return std::equal(offer.bytes.begin(), offer.bytes.end(), data);
}

const char *half(const Relay &relay, Endpoint address) { return address == relay.client ? "client" : "server"; }

} // namespace

Endpoint Handler::handle(const uint8_t *data, size_t size, Endpoint from, int64_t now,
                         std::vector<Answer> &answers) {
    ++counters_.received;
    Request request;
    Fault fault = from.ip == 0 || from.port == 0 ? Fault::BadSource : parse(data, size, request);
    if (fault != Fault::BadSource && fromLowPort(from)) {
        // Nothing goes there, no name is registered from there, and no relay holds
        // such an address: central is no reflector towards those services.
        ++counters_.lowPort;
        if (log_.events())
            log_.drop(now, "datagram dropped: from a port below 1024 (" + std::to_string(size) + " bytes from " +
                               format(from) + ")");
        return {};
    }
    Relay *relay = relays_.holding(from);
    if (fault != Fault::None) {
        // From a half that has been offered its relay, whatever is not a request is
        // relay traffic: the probes that take the offer, then OpenVPN.
        if (relay && relay->offeredTo(from)) return pass(*relay, from, data, size, now, answers);
        ++counters_.malformed;
        if (log_.events())
            log_.drop(now, "datagram dropped: " + std::string(describe(fault)) + " (" + std::to_string(size) +
                               " bytes from " + format(from) + ")");
        return {};
    }
    // A request from a half of a pair: the program there is back at its rendezvous (a
    // server registering after its tunnel, a client asking anew), so the relay is over.
    if (relay) endRelay(*relay, from == relay->server ? "request from the server" : "request from the client", now);
    auto verdict = sourceLimit_.admit(from.ip, now);
    if (verdict != SourceLimit::Verdict::Allowed) {
        ++counters_.sourceLimited;
        if (log_.events())
            log_.drop(now, std::string("datagram dropped: ") +
                               (verdict == SourceLimit::Verdict::OverRate ? "source rate limited"
                                                                          : "too many sources this second") +
                               " (from " + format(from) + ")");
        return {};
    }
    if (request.type == MSG_REGISTER)
        enroll(request, from, now, answers);
    else
        query(request, from, now, answers);
    return {};
}

void Handler::enroll(const Request &request, Endpoint from, int64_t now, std::vector<Answer> &answers) {
    Registration *entry = nullptr;
    Endpoint before;
    std::string who;
    if (log_.events()) {
        if (Registration *current = registry_.find(request.name, now)) before = current->address;
        who = "name=" + request.name.text() + " computer=" + request.computerName.text() +
              " from=" + format(from);
    }
    switch (registry_.enroll(request.name, request.computerName, from, now, &entry)) {
    case Registry::Outcome::Registered:
        ++counters_.registered;
        if (log_.events()) log_.event(LogKind::Registration, now, "registered " + who);
        answers.push_back(makeAnswer(MSG_REGISTERED, request.name, from));
        break;
    case Registry::Outcome::Refreshed:
        ++counters_.refreshed;
        if (log_.events())
            log_.event(LogKind::Registration, now,
                       "refreshed " + who + (before != from ? " (moved from " + format(before) + ")" : ""));
        answers.push_back(makeAnswer(MSG_REGISTERED, request.name, from));
        break;
    case Registry::Outcome::Taken:
        ++counters_.nameTaken;
        if (log_.events())
            log_.event(LogKind::Registration, now,
                       "name taken " + who + " held by computer=" + entry->computerName.text() + " at " +
                           format(entry->address));
        answers.push_back(makeAnswer(MSG_NAME_TAKEN, request.name, from));
        break;
    case Registry::Outcome::Full:
        ++counters_.tableFull;
        if (log_.events()) log_.drop(now, "table full, not registered " + who);
        break;
    }
}

void Handler::query(const Request &request, Endpoint from, int64_t now, std::vector<Answer> &answers) {
    Registration *entry = registry_.find(request.name, now);
    if (!entry) {
        ++counters_.unknownName;
        if (log_.events())
            log_.event(LogKind::UnknownName, now, "unknown name name=" + request.name.text() + " from=" + format(from));
        return;
    }
    if (entry->peerAddressAt >= 0 && now - entry->peerAddressAt < settings_.peerIntervalMs) {
        ++counters_.nameLimited;
        if (log_.events())
            log_.drop(now, "query dropped: name rate limited name=" + request.name.text() +
                               " from=" + format(from));
        return;
    }
    // The registered address gets one peer address per registration it sent: one
    // (perhaps spoofed) registration cannot turn into a stream of datagrams towards
    // it. A server takes one request per registration anyway: after punching, or
    // after its tunnel, it registers again.
    if (entry->toldSinceRegistration) {
        ++counters_.nameLimited;
        if (log_.events())
            log_.drop(now, "query dropped: server told already since its registration name=" + request.name.text() +
                               " from=" + format(from));
        return;
    }
    entry->peerAddressAt = now;
    entry->toldSinceRegistration = true;
    ++counters_.answered;
    if (log_.events())
        log_.event(LogKind::Answered, now,
                   "query answered name=" + request.name.text() + " client=" + format(from) +
                       " server=" + format(entry->address));
    answers.push_back(makeAnswer(MSG_PEER_ADDRESS, request.name, from, entry->address));
    answers.push_back(makeAnswer(MSG_PEER_ADDRESS, request.name, entry->address, from));
    if (settings_.relayAfterMs > 0) openRelay(request.name, from, entry->address, now);
}

void Handler::openRelay(const Name &name, Endpoint client, Endpoint server, int64_t now) {
    if (client == server) return; // a server asking for its own name: nothing to pass between
    auto refusal = relays_.open(name, client, server, now + settings_.relayAfterMs,
                                [&](const Relay &old) { ended(old, "replaced by a new pair", now); });
    if (refusal == RelayTable::Refusal::None) return;
    std::string why = refused(refusal, client, server);
    if (refusal == RelayTable::Refusal::Full)
        why += " (" + std::to_string(relays_.inUse()) + " relays in use, " +
               std::to_string(relays_.offers()) + " offers)";
    if (log_.events())
        log_.drop(now, "relay not offered: " + why + " name=" + name.text() + " client=" + format(client) +
                           " server=" + format(server));
}

std::string Handler::refused(RelayTable::Refusal refusal, Endpoint client, Endpoint server) {
    switch (refusal) {
    case RelayTable::Refusal::Busy:
        ++counters_.relayBusy;
        return "an address is in a relay in use";
    case RelayTable::Refusal::Full:
        ++counters_.relayFull;
        return "table full";
    case RelayTable::Refusal::SourceFull: {
        ++counters_.relaySourceFull;
        uint32_t ip = relays_.inUseBy(client.ip) >= settings_.sourceRelays ? client.ip : server.ip;
        return formatAddress(ip) + " holds " + std::to_string(relays_.inUseBy(ip)) + " relays in use";
    }
    case RelayTable::Refusal::None:
        break;
    }
    return "";
}

void Handler::offerRelays(int64_t now, std::vector<Answer> &answers) {
    relays_.offerDue(now, [&](Relay &relay) {
        ++counters_.relayOffered;
        if (log_.events()) log_.event(LogKind::Relay, now, "relay offered to the server " + pair(relay));
        answers.push_back(makeAnswer(MSG_PUNCH, relay.name, relay.server));
    });
}

// The server answered its offer: it is still looking for a punch and takes central
// as its peer, so its OpenVPN will answer through the relay. Now the client may take
// it too.
void Handler::offerToClient(Relay &relay, int64_t now, std::vector<Answer> &answers) {
    relay.offeredToClient = true;
    ++counters_.relayTaken;
    if (log_.events()) log_.event(LogKind::Relay, now, "relay taken by the server, offered to the client " + pair(relay));
    answers.push_back(makeAnswer(MSG_PUNCH, relay.name, relay.client));
}

Endpoint Handler::pass(Relay &relay, Endpoint from, const uint8_t *data, size_t size, int64_t now,
                       std::vector<Answer> &answers) {
    relay.heardFrom(from) = now;
    if (from == relay.server && !relay.offeredToClient) offerToClient(relay, now, answers);
    // The offer sent back (the client's answer to it is the very same record): the
    // half's consent, but nothing to pass on.
    if (isOffer(relay, data, size)) return {};
    uint64_t print = fingerprint(data, size);
    if (print == relay.passedTo(from)) {
        ++counters_.relayLoops;
        endRelay(relay, std::string("loop: the ") + half(relay, from) + " sent back what it was passed", now);
        return {};
    }
    Endpoint to = relay.peerOf(from);
    // Only to a half that has itself sent something lately: no relay sends to an
    // address that did not ask for it.
    if (!relay.consents(to, now, settings_.relayConsentMs)) {
        ++relay.unconsented;
        ++counters_.relayUnconsented;
        if (log_.events())
            log_.drop(now, std::string("relay datagram dropped: no consent from the ") + half(relay, to) + " (" +
                               std::to_string(size) + " bytes from " + format(from) + ")");
        return {};
    }
    if (!relay.inUse()) {
        auto refusal = relays_.use(relay);
        if (refusal != RelayTable::Refusal::None) {
            endRelay(relay, refused(refusal, relay.client, relay.server), now);
            return {};
        }
        ++counters_.relayUsed;
        if (log_.events())
            log_.event(LogKind::Relay, now,
                       "relay in use " + pair(relay) + " (first datagram from the " + half(relay, from) + ")");
    }
    if (!relays_.admit(relay, size, now)) {
        ++relay.limited;
        ++counters_.relayLimited;
        if (log_.events())
            log_.drop(now, "relay datagram dropped: over the rate cap (" + std::to_string(size) + " bytes from " +
                               format(from) + ")");
        return {};
    }
    relay.passedTo(to) = print;
    ++relay.datagrams;
    relay.bytes += size;
    relay.lastAt = now;
    ++counters_.relayed;
    counters_.relayedBytes += size;
    return to;
}

void Handler::ended(const Relay &relay, const std::string &why, int64_t now) {
    ++counters_.relayEnded;
    if (log_.events())
        log_.event(LogKind::Relay, now,
                   "relay ended " + pair(relay) + " (" + why + ") datagrams=" + std::to_string(relay.datagrams) +
                       " bytes=" + std::to_string(relay.bytes) + " limited=" + std::to_string(relay.limited) +
                       " unconsented=" + std::to_string(relay.unconsented));
}

void Handler::endRelay(const Relay &relay, const std::string &why, int64_t now) {
    ended(relay, why, now);
    relays_.end(relay);
}

void Handler::keepAlive(int64_t now, std::vector<Answer> &answers) {
    if (settings_.keepaliveMs == 0) return;
    registry_.keepaliveDue(now - settings_.keepaliveMs, [&](const Registration &entry) {
        if (entry.toldSinceRegistration) return;
        ++counters_.keepalives;
        answers.push_back(Answer{entry.address, {}});
    });
}

void Handler::expire(int64_t now) {
    registry_.expire(now, [&](const Name &name, const Registration &entry) {
        ++counters_.expired;
        if (log_.events())
            log_.event(LogKind::Registration, now,
                       "expired name=" + name.text() + " computer=" + entry.computerName.text() + " at " +
                           format(entry.address));
    });
    relays_.expire(now, settings_.relayIdleMs, settings_.relayLifetimeMs, RELAY_UNTAKEN_MS,
                   [&](const Relay &relay, const char *why) { ended(relay, why, now); });
}

std::string Handler::summary() const {
    const Counters &c = counters_;
    return "counters names=" + std::to_string(registry_.size()) + " received=" + std::to_string(c.received) +
           " registered=" + std::to_string(c.registered) + " refreshed=" + std::to_string(c.refreshed) +
           " name_taken=" + std::to_string(c.nameTaken) + " table_full=" + std::to_string(c.tableFull) +
           " expired=" + std::to_string(c.expired) + " answered=" + std::to_string(c.answered) +
           " unknown_name=" + std::to_string(c.unknownName) +
           " name_limited=" + std::to_string(c.nameLimited) +
           " source_limited=" + std::to_string(c.sourceLimited) + " malformed=" + std::to_string(c.malformed) +
           " low_port=" + std::to_string(c.lowPort) +
           " relays=" + std::to_string(relays_.size()) + " relays_in_use=" + std::to_string(relays_.inUse()) +
           " relay_offered=" + std::to_string(c.relayOffered) + " relay_taken=" + std::to_string(c.relayTaken) +
           " relay_used=" + std::to_string(c.relayUsed) + " relay_ended=" + std::to_string(c.relayEnded) +
           " relay_full=" + std::to_string(c.relayFull) + " relay_busy=" + std::to_string(c.relayBusy) +
           " relay_source_full=" + std::to_string(c.relaySourceFull) +
           " relayed=" + std::to_string(c.relayed) + " relayed_bytes=" + std::to_string(c.relayedBytes) +
           " relay_limited=" + std::to_string(c.relayLimited) +
           " relay_unconsented=" + std::to_string(c.relayUnconsented) + " relay_loops=" + std::to_string(c.relayLoops) +
           " keepalives=" + std::to_string(c.keepalives);
}

} // namespace central
