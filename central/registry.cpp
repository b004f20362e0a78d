#include "central/registry.h"

namespace central {

size_t NameHash::operator()(const Name& name) const noexcept {
    uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (char c : name.bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return size_t(hash);
}

Registry::Registry(int64_t expiryMs, size_t maxNames) : expiryMs_(expiryMs), maxNames_(maxNames) {}

bool Registry::expired(const Registration& entry, int64_t now) const {
    return now - entry.registeredAt >= expiryMs_;
}

void Registry::unlink(Registration& entry) {
    if (keepaliveNext_ == &entry) keepaliveNext_ = entry.newer;
    (entry.older ? entry.older->newer : oldest_) = entry.newer;
    (entry.newer ? entry.newer->older : newest_) = entry.older;
    entry.older = entry.newer = nullptr;
}

void Registry::append(Registration& entry) {
    entry.older = newest_;
    entry.newer = nullptr;
    (newest_ ? newest_->newer : oldest_) = &entry;
    newest_ = &entry;
    if (!keepaliveNext_) keepaliveNext_ = &entry;
}

void Registry::remove(Registration& entry) {
    unlink(entry);
    table_.erase(*entry.name);
}

Registry::Outcome Registry::enroll(const Name& name, const ComputerName& computerName, Endpoint address,
                                   int64_t now, Registration** entry) {
    auto found = table_.find(name);
    if (found != table_.end()) {
        Registration& holder = found->second;
        if (holder.computerName != computerName && !expired(holder, now)) {
            *entry = &holder;
            return Outcome::Taken;
        }
        bool refresh = holder.computerName == computerName && !expired(holder, now);
        holder.computerName = computerName;
        holder.address = address;
        holder.registeredAt = now;
        holder.toldSinceRegistration = false;
        if (!refresh) holder.peerAddressAt = -1;
        unlink(holder);
        append(holder);
        *entry = &holder;
        return refresh ? Outcome::Refreshed : Outcome::Registered;
    }
    if (table_.size() >= maxNames_) {
        // Room may be had from names that have expired but not yet been swept.
        if (!oldest_ || !expired(*oldest_, now)) return Outcome::Full;
        remove(*oldest_);
    }
    auto [inserted, ok] = table_.emplace(name, Registration{});
    (void)ok;
    Registration& holder = inserted->second;
    holder.computerName = computerName;
    holder.address = address;
    holder.registeredAt = now;
    holder.name = &inserted->first;
    append(holder);
    *entry = &holder;
    return Outcome::Registered;
}

Registration* Registry::find(const Name& name, int64_t now) {
    auto found = table_.find(name);
    if (found == table_.end() || expired(found->second, now)) return nullptr;
    return &found->second;
}

void Registry::expire(int64_t now, const std::function<void(const Name&, const Registration&)>& gone) {
    while (oldest_ && expired(*oldest_, now)) {
        gone(*oldest_->name, *oldest_);
        remove(*oldest_);
    }
}

void Registry::keepaliveDue(int64_t before, const std::function<void(const Registration&)>& due) {
    while (keepaliveNext_ && keepaliveNext_->registeredAt <= before) {
        due(*keepaliveNext_);
        keepaliveNext_ = keepaliveNext_->newer;
    }
}

} // namespace central
