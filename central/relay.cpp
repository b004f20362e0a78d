#include "central/relay.h"

#include <algorithm>
#include <vector>

namespace central {

RelayTable::RelayTable(size_t maxRelays, uint64_t rate) : maxRelays_(maxRelays), rate_(rate) {}

// A second's worth of the rate, and never less than the largest datagram, which
// must be able to pass at a low rate too.
int64_t RelayTable::fullCredit() const { return std::max<int64_t>(int64_t(rate_), 65536) * 1000; }

Relay* RelayTable::holding(Endpoint address) {
    auto found = byAddress_.find(address);
    return found == byAddress_.end() ? nullptr : &relays_.at(found->second);
}

RelayTable::Opened RelayTable::open(const Name& name, Endpoint client, Endpoint server, int64_t offerAt,
                                    const std::function<void(const Relay&)>& replaced) {
    Relay* holders[2] = {holding(client), holding(server)};
    for (Relay* holder : holders)
        if (holder && holder->inUse()) return Opened::Busy;
    for (int i = 0; i < 2; ++i) {
        if (!holders[i] || (i == 1 && holders[1] == holders[0])) continue;
        replaced(*holders[i]);
        end(*holders[i]);
    }
    if (relays_.size() >= maxRelays_) return Opened::Full;
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
    return Opened::Pending;
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
    byAddress_.erase(relay.client);
    byAddress_.erase(relay.server);
    relays_.erase(relay.id);
}

void RelayTable::offerDue(int64_t now, const std::function<void(Relay&)>& offer) {
    for (auto it = relays_.lower_bound(firstPending_); it != relays_.end() && it->second.offerAt <= now; ++it) {
        it->second.offered = true;
        firstPending_ = it->first + 1;
        offer(it->second);
    }
}

int64_t RelayTable::nextOfferAt() const {
    auto it = relays_.lower_bound(firstPending_);
    return it == relays_.end() ? -1 : it->second.offerAt;
}

void RelayTable::expire(int64_t now, int64_t idleMs, int64_t untakenMs,
                        const std::function<void(const Relay&, const char*)>& gone) {
    std::vector<const Relay*> ended;
    for (const auto& [id, relay] : relays_) {
        if (!relay.offered) continue;
        if (relay.inUse() ? now - relay.lastAt >= idleMs : now - relay.offerAt >= untakenMs) ended.push_back(&relay);
    }
    for (const Relay* relay : ended) {
        gone(*relay, relay->inUse() ? "idle" : "not taken");
        end(*relay);
    }
}

} // namespace central
