#include "central/relay.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace central {

uint64_t fingerprint(const uint8_t* data, size_t size) {
    uint64_t hash = 0x9e3779b97f4a7c15ull ^ size;
    size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        uint64_t word;
        std::memcpy(&word, data + at, 8);
        hash = (hash ^ word) * 0xff51afd7ed558ccdull;
        hash ^= hash >> 32;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, data + at, size - at);
    hash = (hash ^ tail) * 0xc4ceb9fe1a85ec53ull;
    hash ^= hash >> 29;
    return hash | 1;
}

RelayTable::RelayTable(size_t maxRelays, size_t maxOffers, size_t sourceRelays, uint64_t rate)
    : maxRelays_(maxRelays), maxOffers_(maxOffers), sourceRelays_(sourceRelays), rate_(rate) {}

// A second's worth of the rate, and never less than the largest datagram, which
// must be able to pass at a low rate too.
int64_t RelayTable::fullCredit() const { return std::max<int64_t>(int64_t(rate_), 65536) * 1000; }

Relay* RelayTable::holding(Endpoint address) {
    auto found = byAddress_.find(address);
    return found == byAddress_.end() ? nullptr : &relays_.at(found->second);
}

size_t RelayTable::inUseBy(uint32_t ip) const {
    auto found = inUseBySource_.find(ip);
    return found == inUseBySource_.end() ? 0 : found->second;
}

RelayTable::Refusal RelayTable::room(Endpoint client, Endpoint server) const {
    if (inUse_ >= maxRelays_) return Refusal::Full;
    if (inUseBy(client.ip) >= sourceRelays_ || inUseBy(server.ip) >= sourceRelays_) return Refusal::SourceFull;
    return Refusal::None;
}

RelayTable::Refusal RelayTable::open(const Name& name, Endpoint client, Endpoint server, int64_t offerAt,
                                     const std::function<void(const Relay&)>& replaced) {
    Relay* holders[2] = {holding(client), holding(server)};
    for (Relay* holder : holders)
        if (holder && holder->inUse()) return Refusal::Busy;
    for (int i = 0; i < 2; ++i) {
        if (!holders[i] || (i == 1 && holders[1] == holders[0])) continue;
        replaced(*holders[i]);
        end(*holders[i]);
    }
    if (offers() >= maxOffers_) return Refusal::Full;
    // A pair that could not use its relay now is not offered one; use checks again,
    // as others may take the room between the offer and its use.
    if (Refusal refusal = room(client, server); refusal != Refusal::None) return refusal;
    Relay relay;
    relay.id = nextId_++;
    relay.name = name;
    relay.client = client;
    relay.server = server;
    relay.offerAt = offerAt;
    relay.lastAt = offerAt;
    relay.credit = fullCredit();
    relay.creditAt = offerAt;
    byAddress_[client] = relay.id;
    byAddress_[server] = relay.id;
    relays_.emplace(relay.id, relay);
    return Refusal::None;
}

RelayTable::Refusal RelayTable::use(Relay& relay) {
    if (Refusal refusal = room(relay.client, relay.server); refusal != Refusal::None) return refusal;
    relay.used = true;
    ++inUse_;
    countSources(relay, +1);
    return Refusal::None;
}

// A relay in use counts against its client's source address, and its server's when
// that is another.
void RelayTable::countSources(const Relay& relay, int change) {
    uint32_t ips[2] = {relay.client.ip, relay.server.ip};
    for (int i = 0; i < (ips[0] == ips[1] ? 1 : 2); ++i) {
        size_t& count = inUseBySource_[ips[i]];
        count += size_t(change);
        if (count == 0) inUseBySource_.erase(ips[i]);
    }
}

bool RelayTable::admit(Relay& relay, size_t size, int64_t now) {
    if (rate_ == 0) return true;
    int64_t full = fullCredit();
    if (now > relay.creditAt) {
        relay.credit = std::min(full, relay.credit + (now - relay.creditAt) * int64_t(rate_));
        relay.creditAt = now;
    }
    int64_t cost = int64_t(size) * 1000;
    if (relay.credit < cost) return false;
    relay.credit -= cost;
    return true;
}

void RelayTable::end(const Relay& relay) {
    if (relay.used) {
        --inUse_;
        countSources(relay, -1);
    }
    byAddress_.erase(relay.client);
    byAddress_.erase(relay.server);
    relays_.erase(relay.id);
}

void RelayTable::offerDue(int64_t now, const std::function<void(Relay&)>& offer) {
    for (auto it = relays_.lower_bound(firstPending_); it != relays_.end() && it->second.offerAt <= now; ++it) {
        it->second.offeredToServer = true;
        firstPending_ = it->first + 1;
        offer(it->second);
    }
}

int64_t RelayTable::nextOfferAt() const {
    auto it = relays_.lower_bound(firstPending_);
    return it == relays_.end() ? -1 : it->second.offerAt;
}

void RelayTable::expire(int64_t now, int64_t idleMs, int64_t lifetimeMs, int64_t untakenMs,
                        const std::function<void(const Relay&, const char*)>& gone) {
    std::vector<std::pair<const Relay*, const char*>> ended;
    for (const auto& [id, relay] : relays_) {
        if (!relay.offeredToServer) continue;
        if (!relay.inUse()) {
            if (now - relay.offerAt >= untakenMs) ended.emplace_back(&relay, "not taken");
        } else if (now - relay.lastAt >= idleMs) {
            ended.emplace_back(&relay, "idle");
        } else if (now - relay.offerAt >= lifetimeMs) {
            ended.emplace_back(&relay, "lifetime over");
        }
    }
    for (auto [relay, why] : ended) {
        gone(*relay, why);
        end(*relay);
    }
}

} // namespace central
