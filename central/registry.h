// The table of registered names: who holds each name (by computer name), the
// public address the holder last registered from, and when. Entries are chained
// from the least to the most recently registered, so expired ones are found at
// the old end, and those whose keepalive is due from a cursor, without scanning
// the table. The table never holds more than its cap.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>

#include "central/record.h"

namespace central {

struct NameHash {
    size_t operator()(const Name& name) const noexcept;
};

struct Registration {
    ComputerName computerName;
    Endpoint address;
    int64_t registeredAt = 0;   // ms, last registration or refresh
    int64_t peerAddressAt = -1; // ms, last MSG_PEER_ADDRESS sent to the holder; -1: never
    // The holder was sent a peer address since its last registration or refresh: each
    // registration clears it, each peer address sets it. A fact, not a comparison of
    // times, which cannot order two events of the same millisecond.
    bool toldSinceRegistration = false;
    const Name* name = nullptr; // the table's own key
    Registration* older = nullptr;
    Registration* newer = nullptr;
};

class Registry {
public:
    enum class Outcome {
        Registered, // the name was free (or expired) and is now held by this computer
        Refreshed,  // the holder registered again
        Taken,      // a fresh registration by another computer holds it
        Full,       // the name is new and the table is at its cap
    };

    Registry(int64_t expiryMs, size_t maxNames);
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Registers name for computerName at address. On Registered and Refreshed the
    // holder's registration is in *entry, on Taken the other holder's.
    Outcome enroll(const Name& name, const ComputerName& computerName, Endpoint address, int64_t now,
                   Registration** entry);

    // The fresh registration of name, or nullptr.
    Registration* find(const Name& name, int64_t now);

    // Removes every registration that has expired by now, oldest first, telling
    // gone about each before it goes.
    void expire(int64_t now, const std::function<void(const Name&, const Registration&)>& gone);

    // Tells due about every registration made at or before `before` that it has
    // not been told about yet, each once, oldest first: the registrations whose
    // keepalive is due.
    void keepaliveDue(int64_t before, const std::function<void(const Registration&)>& due);

    size_t size() const { return table_.size(); }

private:
    bool expired(const Registration& entry, int64_t now) const;
    void unlink(Registration& entry);
    void append(Registration& entry);
    void remove(Registration& entry);

    int64_t expiryMs_;
    size_t maxNames_;
    std::unordered_map<Name, Registration, NameHash> table_;
    Registration* oldest_ = nullptr;
    Registration* newest_ = nullptr;
    Registration* keepaliveNext_ = nullptr; // the oldest registration keepaliveDue has not told about
};

} // namespace central
