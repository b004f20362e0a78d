// How many requests each source address may make per second. Counts are kept
// per one-second window for at most maxSources addresses; a new address beyond
// that waits for the next window, so memory stays bounded under a flood from
// many (spoofed) addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace central {

class SourceLimit {
public:
    enum class Verdict { Allowed, OverRate, TooManySources };

    // perSecond 0: no limit.
    SourceLimit(unsigned perSecond, size_t maxSources);

    Verdict admit(uint32_t ip, int64_t now);

private:
    unsigned perSecond_;
    size_t maxSources_;
    int64_t second_ = -1;
    std::unordered_map<uint32_t, unsigned> counts_;
};

} // namespace central
