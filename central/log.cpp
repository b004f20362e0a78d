#include "central/log.h"

namespace central {

EventLog::EventLog(FILE* out, bool events, unsigned dropLinesPerSecond)
    : out_(out), events_(events), dropLinesPerSecond_(dropLinesPerSecond) {}

void EventLog::write(const std::string& text) {
    if (!out_) return;
    std::string line = "central: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void EventLog::event(const std::string& text) {
    if (events_) write(text);
}

void EventLog::drop(int64_t now, const std::string& text) {
    if (!events_) return;
    int64_t second = now / 1000;
    if (second != dropSecond_) {
        dropSecond_ = second;
        dropLines_ = 0;
    }
    if (dropLines_ >= dropLinesPerSecond_) {
        ++heldBack_;
        return;
    }
    ++dropLines_;
    if (heldBack_ > 0) {
        write(text + " (" + std::to_string(heldBack_) + " more drops not logged)");
        heldBack_ = 0;
    } else {
        write(text);
    }
}

void EventLog::notice(const std::string& text) { write(text); }

} // namespace central
