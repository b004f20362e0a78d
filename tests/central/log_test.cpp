// Each kind of line is held to its own budget per second, and what a budget held
// back is owned up to.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "central/log.h"

using namespace central;

namespace {

std::string contents(FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += char(c);
    return text;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A flood of unknown-name queries neither fills the log nor hides a registration or
// a drop of the same second; the next second's lines of that kind come again.
TEST(EventLog, AFloodOfOneKindNeitherFillsTheLogNorHidesAnother) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EventLog log(file, true, 10);
    for (int i = 0; i < 1000; ++i) log.event(LogKind::UnknownName, 5000 + i % 1000, "unknown name name=x");
    log.event(LogKind::Registration, 5999, "registered name=office");
    for (int i = 0; i < 15; ++i) log.drop(5999, "datagram dropped: bad magic");
    std::string text = contents(file);
    EXPECT_EQ(count(text, "central: unknown name name=x\n"), 10u);
    EXPECT_EQ(count(text, "central: registered name=office\n"), 1u);
    EXPECT_EQ(count(text, "central: datagram dropped: bad magic\n"), 10u);
    EXPECT_EQ(count(text, "held back"), 0u) << "owned up to once the second is over";

    // The next second: what each kind held back, in one line each, before its next line.
    log.event(LogKind::UnknownName, 6000, "unknown name name=y");
    text = contents(file);
    EXPECT_NE(text.find("central: 990 more unknown name lines held back (at most 10 a second are written)\n"
                        "central: unknown name name=y\n"),
              std::string::npos)
        << text;
    // The sweep owns up to the rest, once their second is over.
    log.flush(6500);
    text = contents(file);
    EXPECT_EQ(count(text, "central: 5 more drop lines held back (at most 10 a second are written)\n"), 1u) << text;
    EXPECT_EQ(count(text, "registration lines held back"), 0u);
    log.flush(7000);
    EXPECT_EQ(contents(file), text) << "nothing held back twice, nor in a second still going";
    std::fclose(file);
}

TEST(EventLog, QuietKeepsOnlyNotices) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EventLog log(file, false);
    log.event(LogKind::Registration, 0, "registered name=office");
    log.drop(0, "datagram dropped: bad magic");
    log.flush(100000);
    log.notice("stopping on SIGTERM");
    EXPECT_EQ(contents(file), "central: stopping on SIGTERM\n");
    std::fclose(file);
}

} // namespace
