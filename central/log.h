// central's log: one line per event on a stream (stderr in the service). Anyone can
// make central log at will (a query for an unknown name is one datagram), so each
// kind of line has its own budget of lines a second: a flood of one kind neither
// fills the journal (whose own rate limit would then drop central's lines, real ones
// included) nor hides the lines of another, and a real registration during a flood
// of unknown-name queries is still logged. What a budget holds back is owned up to
// in one line per kind and second.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace central {

// What a line is about; each kind has its own budget.
enum class LogKind {
    Registration, // registered, refreshed, name taken, expired
    UnknownName,  // a query for a name nobody holds
    Answered,     // a query answered with a peer address
    Relay,        // relay offered, taken, in use, ended
    Drop,         // a datagram, query or relay refused by a check or a limit
};
constexpr size_t LOG_KINDS = 5;

class EventLog {
public:
    // out nullptr: silent. events false: only notices (start, stop, counters).
    EventLog(FILE* out, bool events, unsigned linesPerSecond = 20);

    // Whether event lines are written at all, so callers can skip composing them.
    bool events() const { return events_ && out_; }

    void event(LogKind kind, int64_t now, const std::string& text);
    void drop(int64_t now, const std::string& text) { event(LogKind::Drop, now, text); }
    // Writes, for each kind whose budget held lines back in a second before now's,
    // how many.
    void flush(int64_t now);
    void notice(const std::string& text);

private:
    struct Budget {
        int64_t second = -1;
        unsigned lines = 0;     // written in that second
        uint64_t heldBack = 0;  // not written in that second
    };
    void write(const std::string& text);
    void settle(LogKind kind, Budget& budget); // owns up to what it held back

    FILE* out_;
    bool events_;
    unsigned linesPerSecond_;
    std::array<Budget, LOG_KINDS> budgets_{};
};

} // namespace central
