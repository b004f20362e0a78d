#include "central/log.h"

namespace central {

namespace {

const char* kindName(LogKind kind) {
    switch (kind) {
    case LogKind::Registration: return "registration";
    case LogKind::UnknownName: return "unknown name";
    case LogKind::Answered: return "answered query";
    case LogKind::Relay: return "relay";
    case LogKind::Drop: return "drop";
    }
    return "other";
}

} // namespace

EventLog::EventLog(FILE* out, bool events, unsigned linesPerSecond)
    : out_(out), events_(events), linesPerSecond_(linesPerSecond) {}

void EventLog::write(const std::string& text) {
    if (!out_) return;
    std::string line = "central: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void EventLog::settle(LogKind kind, Budget& budget) {
    if (budget.heldBack > 0)
        write(std::to_string(budget.heldBack) + " more " + kindName(kind) + " lines held back (at most " +
              std::to_string(linesPerSecond_) + " a second are written)");
    budget.heldBack = 0;
    budget.lines = 0;
}

void EventLog::event(LogKind kind, int64_t now, const std::string& text) {
    if (!events_) return;
    Budget& budget = budgets_[size_t(kind)];
    int64_t second = now / 1000;
    if (second != budget.second) {
        settle(kind, budget);
        budget.second = second;
    }
    if (budget.lines >= linesPerSecond_) {
        ++budget.heldBack;
        return;
    }
    ++budget.lines;
    write(text);
}

void EventLog::flush(int64_t now) {
    for (size_t i = 0; i < LOG_KINDS; ++i)
        if (budgets_[i].second != now / 1000) settle(LogKind(i), budgets_[i]);
}

void EventLog::notice(const std::string& text) { write(text); }

} // namespace central
