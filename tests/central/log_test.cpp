// Lines about dropped datagrams are held to a few per second, and the ones held
// back are owned up to.
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

TEST(EventLog, DropLinesAreHeldToTheirRateAndTheRestCounted) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EventLog log(file, true, 10);
    for (int i = 0; i < 15; ++i) log.drop(5000 + i, "datagram dropped: bad magic");
    log.event("registered name=office");
    EXPECT_EQ(count(contents(file), "central: datagram dropped: bad magic\n"), 10u);
    log.drop(6000, "datagram dropped: bad name");
    std::string text = contents(file);
    EXPECT_NE(text.find("central: registered name=office\n"), std::string::npos);
    EXPECT_NE(text.find("central: datagram dropped: bad name (5 more drops not logged)\n"), std::string::npos);
    std::fclose(file);
}

TEST(EventLog, QuietKeepsOnlyNotices) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EventLog log(file, false);
    log.event("registered name=office");
    log.drop(0, "datagram dropped: bad magic");
    log.notice("stopping on SIGTERM");
    EXPECT_EQ(contents(file), "central: stopping on SIGTERM\n");
    std::fclose(file);
}

} // namespace
