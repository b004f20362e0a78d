// The datagram handler with a clock the test turns: the limits to the exact
// millisecond, and what central may send in answer to what.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "central/handler.h"
#include "support/peer.h"

using namespace central;

namespace {

const Endpoint SERVER{0x01020304, 1194}, CLIENT{0x05060708, 40000}, OTHER{0x05060709, 40000};

struct Fixture {
    explicit Fixture(Settings settings = {}) : handler(settings, log) {}
    std::vector<Answer> send(const Bytes& bytes, Endpoint from, int64_t now) {
        std::vector<Answer> answers;
        handler.handle(bytes.data(), bytes.size(), from, now, answers);
        return answers;
    }
    EventLog log{nullptr, false};
    Handler handler;
};

Bytes answerBytes(const Answer& answer) { return Bytes(answer.bytes.begin(), answer.bytes.end()); }

TEST(Handler, AQueryTellsTheClientTheServerAndTheServerTheClient) {
    Fixture f;
    ASSERT_EQ(f.send(registerRecord("office", "PC01"), SERVER, 0).size(), 1u);
    auto answers = f.send(queryRecord("office"), CLIENT, 10);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].to, CLIENT);
    EXPECT_EQ(readLittle32(answerBytes(answers[0]), 8), SERVER.ip);
    EXPECT_EQ(readLittle16(answerBytes(answers[0]), 12), SERVER.port);
    EXPECT_EQ(answers[1].to, SERVER);
    EXPECT_EQ(readLittle32(answerBytes(answers[1]), 8), CLIENT.ip);
    EXPECT_EQ(readLittle16(answerBytes(answers[1]), 12), CLIENT.port);
    for (const Answer& answer : answers) EXPECT_EQ(readLittle32(answerBytes(answer), 0), 5u);
    EXPECT_EQ(f.handler.counters().answered, 1u);
}

TEST(Handler, ANameGetsOnePeerAddressPairPerInterval) {
    Fixture f; // 2000 ms
    f.send(registerRecord("office", "PC01"), SERVER, 0);
    EXPECT_EQ(f.send(queryRecord("office"), CLIENT, 1000).size(), 2u);
    EXPECT_EQ(f.send(queryRecord("office"), OTHER, 2999).size(), 0u);
    EXPECT_EQ(f.send(queryRecord("office"), CLIENT, 2999).size(), 0u);
    // Refreshing does not reopen the gate.
    f.send(registerRecord("office", "PC01"), SERVER, 2500);
    EXPECT_EQ(f.send(queryRecord("office"), OTHER, 2900).size(), 0u);
    EXPECT_EQ(f.send(queryRecord("office"), OTHER, 3000).size(), 2u);
    EXPECT_EQ(f.handler.counters().nameLimited, 3u);
}

TEST(Handler, ASourceIsHeldToItsRatePerSecond) {
    Settings settings;
    settings.sourceRate = 3;
    settings.maxSources = 2;
    Fixture f(settings);
    f.send(registerRecord("office", "PC01"), SERVER, 0); // the server's address has used one
    int answered = 0;
    for (int i = 0; i < 5; ++i) answered += f.send(registerRecord("mine", "PC02"), CLIENT, 100 + i).size();
    EXPECT_EQ(answered, 3);
    // A third address in the same second is not tracked, and not served.
    EXPECT_EQ(f.send(queryRecord("office"), OTHER, 999).size(), 0u);
    // The next second starts afresh.
    EXPECT_EQ(f.send(registerRecord("mine", "PC02"), CLIENT, 1000).size(), 1u);
    EXPECT_EQ(f.send(queryRecord("office"), OTHER, 1001).size(), 2u);
    EXPECT_EQ(f.handler.counters().sourceLimited, 3u);
}

// Whoever registered a name, perhaps from someone else's address, makes central
// send that address one peer address (and its relay offer) per registration,
// however often the name is asked for.
TEST(Handler, ARegisteredAddressIsSentOnePeerAddressPerRegistration) {
    Fixture f; // one pair per 2000 ms
    f.send(registerRecord("office", "PC01"), SERVER, 0);
    EXPECT_EQ(f.send(queryRecord("office"), CLIENT, 1000).size(), 2u);
    for (int64_t t = 3000; t < 100000; t += 2000) ASSERT_TRUE(f.send(queryRecord("office"), OTHER, t).empty()) << t;
    EXPECT_EQ(f.handler.counters().nameLimited, 49u);
    f.send(registerRecord("office", "PC01"), SERVER, 100000);
    auto answers = f.send(queryRecord("office"), OTHER, 100001);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].to, SERVER);
}

// Registered again in the very millisecond it was told (one batch of datagrams shares
// its time): that registration is newer than the peer address all the same, so the
// next query is answered and the registration has its keepalive.
TEST(Handler, ARegistrationInTheMillisecondOfAPeerAddressStillCountsAsNewer) {
    Settings settings;
    settings.peerIntervalMs = 0;
    settings.keepaliveMs = 15000;
    Fixture f(settings);
    f.send(registerRecord("office", "PC01"), SERVER, 0);
    EXPECT_EQ(f.send(queryRecord("office"), CLIENT, 1000).size(), 2u);
    f.send(registerRecord("office", "PC01"), SERVER, 1000);
    std::vector<Answer> due;
    f.handler.keepAlive(16000, due);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].to, SERVER);
    EXPECT_EQ(f.send(queryRecord("office"), OTHER, 1000).size(), 2u);
    EXPECT_TRUE(f.send(queryRecord("office"), CLIENT, 1000).empty()) << "told since that registration";
}

// The services that answer every datagram live below 1024: central registers nothing
// from there and sends nothing there, neither an answer nor a peer address to the
// server asked for. The programs' own port, and every high port, are served.
TEST(Handler, NothingIsRegisteredFromOrSentToAPortBelow1024ButThePrograms) {
    Fixture f;
    for (uint16_t port : {7, 19, 53, 123, 1023}) {
        EXPECT_TRUE(f.send(registerRecord("echo" + std::to_string(port), "PC01"), Endpoint{SERVER.ip, port}, 0)
                        .empty())
            << port;
        EXPECT_TRUE(f.send(queryRecord("echo" + std::to_string(port)), CLIENT, 0).empty()) << "not registered";
    }
    ASSERT_EQ(f.send(registerRecord("office", "PC01"), SERVER, 0).size(), 1u); // port 1194
    EXPECT_TRUE(f.send(queryRecord("office"), Endpoint{CLIENT.ip, 7}, 10).empty());
    auto answers = f.send(queryRecord("office"), Endpoint{CLIENT.ip, 1024}, 3000);
    ASSERT_EQ(answers.size(), 2u) << "the server was not told the low port, and is told this one";
    EXPECT_EQ(readLittle16(answerBytes(answers[1]), 12), 1024);
    EXPECT_EQ(f.handler.counters().lowPort, 6u);
    EXPECT_EQ(f.handler.counters().unknownName, 5u);
}

TEST(Handler, LapsedNamesAreSweptAndCounted) {
    Settings settings;
    settings.expiryMs = 1000;
    Fixture f(settings);
    f.send(registerRecord("a", "A"), SERVER, 0);
    f.send(registerRecord("b", "B"), SERVER, 600);
    f.handler.expire(1200);
    EXPECT_EQ(f.handler.names(), 1u);
    EXPECT_EQ(f.handler.counters().expired, 1u);
    EXPECT_TRUE(f.send(queryRecord("a"), CLIENT, 1200).empty());
    EXPECT_EQ(f.send(queryRecord("b"), CLIENT, 1200).size(), 2u);
}

TEST(Handler, AFloodOfNewNamesStopsAtTheCap) {
    Settings settings;
    settings.maxNames = 100;
    settings.sourceRate = 0;
    Fixture f(settings);
    size_t answered = 0;
    for (int i = 0; i < 10000; ++i)
        answered += f.send(registerRecord("flood" + std::to_string(i), "X"), CLIENT, i / 10).size();
    EXPECT_EQ(answered, 100u);
    EXPECT_EQ(f.handler.names(), 100u);
    EXPECT_EQ(f.handler.counters().tableFull, 9900u);
    // The holders of the names keep them, and a fresh name gets in once one lapses.
    EXPECT_EQ(f.send(registerRecord("flood0", "X"), CLIENT, 1000).size(), 1u);
    EXPECT_TRUE(f.send(registerRecord("late", "X"), CLIENT, 1000).empty());
    EXPECT_EQ(f.send(registerRecord("late", "X"), CLIENT, 120000 + 10).size(), 1u);
    EXPECT_EQ(f.handler.names(), 100u);
}

TEST(Handler, ASourceIsNeverSentMoreThanItSent) {
    // Random traffic from a few sources: every answer to the sender of a datagram
    // is at most as large as that datagram (twice with the repeated answer), and
    // the only answers to anyone else are peer addresses to registered servers.
    Settings settings;
    settings.peerIntervalMs = 0;
    settings.sourceRate = 0;
    Fixture f(settings);
    std::mt19937 random(7);
    std::vector<Endpoint> sources;
    for (uint32_t i = 1; i <= 6; ++i) sources.push_back(Endpoint{0x0a000000 + i, uint16_t(40000 + i)});
    std::map<std::string, Endpoint> holders;
    const char* names[] = {"alpha", "bravo", "charlie"};
    const char* computers[] = {"PC1", "PC2"};
    for (int64_t now = 0; now < 5000; ++now) {
        Endpoint from = sources[random() % sources.size()];
        std::string n = names[random() % 3];
        Bytes datagram = random() % 2 ? registerRecord(n, computers[random() % 2]) : queryRecord(n);
        if (random() % 4 == 0) datagram[random() % datagram.size()] ^= uint8_t(1 + random() % 255);
        size_t toSender = 0;
        auto answers = f.send(datagram, from, now);
        for (size_t i = 0; i < answers.size(); ++i) {
            const Answer& answer = answers[i];
            uint32_t type = readLittle32(answerBytes(answer), 0);
            std::string about(reinterpret_cast<const char*>(answer.bytes.data() + 14)); // zero-padded name
            if (type == 5 && i == 1) {
                // The peer address for the registered server (which may be the
                // sender itself, asking for its own name).
                ASSERT_TRUE(holders.count(about) && holders[about] == answer.to);
                continue;
            }
            ASSERT_EQ(answer.to, from);
            toSender += answer.bytes.size();
            if (type == 2) holders[about] = from; // MSG_REGISTERED: from holds the name now
        }
        ASSERT_LE(toSender, datagram.size());
    }
    EXPECT_GT(f.handler.counters().answered, 100u);
    EXPECT_GT(f.handler.counters().nameTaken, 100u);
    EXPECT_GT(f.handler.counters().malformed, 100u);
}

} // namespace

std::vector<Answer> keepalives(Handler& handler, int64_t now) {
    std::vector<Answer> answers;
    handler.keepAlive(now, answers);
    return answers;
}

TEST(Handler, EachRegistrationGetsOneKeepaliveUnlessAPeerAddressWentThere) {
    Settings settings;
    settings.keepaliveMs = 15000;
    Fixture f(settings);
    f.send(registerRecord("office", "PC01"), SERVER, 0);
    f.send(registerRecord("home", "PC02"), OTHER, 1000);
    EXPECT_TRUE(keepalives(f.handler, 14999).empty());
    auto due = keepalives(f.handler, 15000);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].to, SERVER);
    EXPECT_EQ(answerBytes(due[0]), Bytes(36, 0)); // no magic: the programs drop it
    EXPECT_TRUE(keepalives(f.handler, 15500).empty());

    // A refresh from a new address before its keepalive was due: one keepalive,
    // at the new address, counted from the refresh.
    f.send(registerRecord("home", "PC02"), CLIENT, 10000);
    EXPECT_TRUE(keepalives(f.handler, 24999).empty());
    due = keepalives(f.handler, 25000);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].to, CLIENT);

    // A server that was sent a peer address punches or runs OpenVPN on that port.
    f.send(registerRecord("office", "PC01"), SERVER, 30000);
    f.send(queryRecord("office"), OTHER, 31000);
    EXPECT_TRUE(keepalives(f.handler, 60000).empty());
    EXPECT_EQ(f.handler.counters().keepalives, 2u);

}

TEST(Handler, ARegistrationSweptBeforeItsKeepaliveTakesItAlong) {
    Settings settings;
    settings.keepaliveMs = 15000;
    settings.expiryMs = 10000;
    Fixture f(settings);
    f.send(registerRecord("office", "PC01"), SERVER, 0);
    f.handler.expire(10000);
    EXPECT_TRUE(keepalives(f.handler, 20000).empty());
    f.send(registerRecord("home", "PC02"), OTHER, 20000);
    auto due = keepalives(f.handler, 35000);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].to, OTHER);
}

TEST(Handler, NoKeepaliveWhenTurnedOff) {
    Settings settings;
    settings.keepaliveMs = 0;
    Fixture f(settings);
    f.send(registerRecord("office", "PC01"), SERVER, 0);
    EXPECT_TRUE(keepalives(f.handler, 100000).empty());
}
