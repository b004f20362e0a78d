#include "central/handler.h"

namespace central {

Handler::Handler(const Settings &settings, EventLog &log)
    : settings_(settings), log_(log), registry_(settings.expiryMs, settings.maxNames),
      sourceLimit_(settings.sourceRate, settings.maxSources) {}

void Handler::handle(const uint8_t *data, size_t size, Endpoint from, int64_t now,
                     std::vector<Answer> &answers) {
    ++counters_.received;
    Request request;
    Fault fault = from.ip == 0 || from.port == 0 ? Fault::BadSource : parse(data, size, request);
    if (fault != Fault::None) {
        ++counters_.malformed;
        if (log_.events())
            log_.drop(now, "datagram dropped: " + std::string(describe(fault)) + " (" + std::to_string(size) +
                               " bytes from " + format(from) + ")");
        return;
    }
    auto verdict = sourceLimit_.admit(from.ip, now);
    if (verdict != SourceLimit::Verdict::Allowed) {
        ++counters_.sourceLimited;
        if (log_.events())
            log_.drop(now, std::string("datagram dropped: ") +
                               (verdict == SourceLimit::Verdict::OverRate ? "source rate limited"
                                                                          : "too many sources this second") +
                               " (from " + format(from) + ")");
        return;
    }
    if (request.type == MSG_REGISTER)
        enroll(request, from, now, answers);
    else
        query(request, from, now, answers);
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
        if (log_.events()) log_.event("registered " + who);
        answers.push_back(makeAnswer(MSG_REGISTERED, request.name, from));
        break;
    case Registry::Outcome::Refreshed:
        ++counters_.refreshed;
        if (log_.events())
            log_.event("refreshed " + who + (before != from ? " (moved from " + format(before) + ")" : ""));
        answers.push_back(makeAnswer(MSG_REGISTERED, request.name, from));
        break;
    case Registry::Outcome::Taken:
        ++counters_.nameTaken;
        if (log_.events())
            log_.event("name taken " + who + " held by computer=" + entry->computerName.text() + " at " +
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
        if (log_.events()) log_.event("unknown name name=" + request.name.text() + " from=" + format(from));
        return;
    }
    if (entry->peerAddressAt >= 0 && now - entry->peerAddressAt < settings_.peerIntervalMs) {
        ++counters_.nameLimited;
        if (log_.events())
            log_.drop(now, "query dropped: name rate limited name=" + request.name.text() +
                               " from=" + format(from));
        return;
    }
    entry->peerAddressAt = now;
    ++counters_.answered;
    if (log_.events())
        log_.event("query answered name=" + request.name.text() + " client=" + format(from) +
                   " server=" + format(entry->address));
    answers.push_back(makeAnswer(MSG_PEER_ADDRESS, request.name, from, entry->address));
    answers.push_back(makeAnswer(MSG_PEER_ADDRESS, request.name, entry->address, from));
}

void Handler::expire(int64_t now) {
    registry_.expire(now, [&](const Name &name, const Registration &entry) {
        ++counters_.expired;
        if (log_.events())
            log_.event("expired name=" + name.text() + " computer=" + entry.computerName.text() + " at " +
                       format(entry.address));
    });
}

std::string Handler::summary() const {
    const Counters &c = counters_;
    return "counters names=" + std::to_string(registry_.size()) + " received=" + std::to_string(c.received) +
           " registered=" + std::to_string(c.registered) + " refreshed=" + std::to_string(c.refreshed) +
           " name_taken=" + std::to_string(c.nameTaken) + " table_full=" + std::to_string(c.tableFull) +
           " expired=" + std::to_string(c.expired) + " answered=" + std::to_string(c.answered) +
           " unknown_name=" + std::to_string(c.unknownName) +
           " name_limited=" + std::to_string(c.nameLimited) +
           " source_limited=" + std::to_string(c.sourceLimited) + " malformed=" + std::to_string(c.malformed);
}

} // namespace central
