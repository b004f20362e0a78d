// central's log: one line per event on a stream (stderr in the service). Lines
// about dropped datagrams are held to a few per second, since anyone can send
// those at will; the ones held back are counted and reported with the next
// line about a drop that gets through.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace central {

class EventLog {
public:
    // out nullptr: silent. events false: only notices (start, stop, counters).
    EventLog(FILE* out, bool events, unsigned dropLinesPerSecond = 10);

    // Whether event lines are written at all, so callers can skip composing them.
    bool events() const { return events_ && out_; }

    void event(const std::string& text);
    void drop(int64_t now, const std::string& text);
    void notice(const std::string& text);

private:
    void write(const std::string& text);

    FILE* out_;
    bool events_;
    unsigned dropLinesPerSecond_;
    int64_t dropSecond_ = -1;
    unsigned dropLines_ = 0;
    uint64_t heldBack_ = 0;
};

} // namespace central
