#include "central/limits.h"

namespace central {

SourceLimit::SourceLimit(unsigned perSecond, size_t maxSources)
    : perSecond_(perSecond), maxSources_(maxSources) {}

SourceLimit::Verdict SourceLimit::admit(uint32_t ip, int64_t now) {
    if (perSecond_ == 0) return Verdict::Allowed;
    int64_t second = now / 1000;
    if (second != second_) {
        second_ = second;
        counts_.clear();
    }
    auto found = counts_.find(ip);
    if (found == counts_.end()) {
        if (counts_.size() >= maxSources_) return Verdict::TooManySources;
        counts_.emplace(ip, 1);
        return Verdict::Allowed;
    }
    if (found->second >= perSecond_) return Verdict::OverRate;
    ++found->second;
    return Verdict::Allowed;
}

} // namespace central
