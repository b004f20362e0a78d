// Relaying in the datagram handler, with a clock the test turns: when the offer
// goes out, what is passed on to whom, what still counts as a request, and when a
// relay ends.
#include <gtest/gtest.h>

#include "central/handler.h"
#include "support/peer.h"

namespace central {
void PrintTo(Endpoint endpoint, std::ostream* out) { *out << format(endpoint); }
} // namespace central

using namespace central;

namespace {

const Endpoint SERVER{0x01020304, 1194}, CLIENT{0x05060708, 40000}, STRANGER{0x05060709, 40000},
    CLIENT2{0x0a0b0c0d, 1194};
const Endpoint NOWHERE{};

Settings relaying(int64_t afterMs = 2500) {
    Settings settings;
    settings.relayAfterMs = afterMs;
    return settings;
}

struct Fixture {
    explicit Fixture(Settings settings = relaying()) : handler(settings, log) {}
    Endpoint send(const Bytes& bytes, Endpoint from, int64_t now) {
        answers.clear();
        return handler.handle(bytes.data(), bytes.size(), from, now, answers);
    }
    std::vector<Answer> offers(int64_t now) {
        std::vector<Answer> out;
        handler.offerRelays(now, out);
        return out;
    }
    // Server registered at 0, client's query answered at `at`, offers sent.
    void pairUp(int64_t at = 1000, const std::string& name = "office", Endpoint server = SERVER,
                Endpoint client = CLIENT) {
        send(registerRecord(name, "PC01"), server, at - 1000);
        ASSERT_EQ(send(queryRecord(name), client, at), NOWHERE) << "a query is no relay traffic";
        ASSERT_EQ(answers.size(), 2u);
        ASSERT_EQ(offers(at + 2500).size(), 2u);
    }
    EventLog log{nullptr, false};
    Handler handler;
    std::vector<Answer> answers;
};

Bytes punchRecord(size_t size) {
    Bytes bytes(size, 0);
    writeLittle32(bytes, 0, 6);
    writeLittle32(bytes, 4, 12345);
    return bytes;
}
const Bytes OPENVPN(1200, 0x38);

TEST(Relay, OfferedToBothHalvesAfterTheDelayThenPassesBothWays) {
    Fixture f;
    f.send(registerRecord("office", "PC01"), SERVER, 0);
    f.send(queryRecord("office"), CLIENT, 1000);
    EXPECT_EQ(f.handler.nextOfferAt(), 3500);
    EXPECT_TRUE(f.offers(3499).empty());
    // Before the offer nothing from the pair is passed on.
    EXPECT_EQ(f.send(OPENVPN, CLIENT, 3499), NOWHERE);

    auto offers = f.offers(3500);
    ASSERT_EQ(offers.size(), 2u);
    EXPECT_EQ(offers[0].to, CLIENT);
    EXPECT_EQ(offers[1].to, SERVER);
    for (const Answer& offer : offers) {
        Bytes bytes(offer.bytes.begin(), offer.bytes.end());
        EXPECT_EQ(readLittle32(bytes, 0), 6u);     // MSG_PUNCH
        EXPECT_EQ(readLittle32(bytes, 4), 12345u); // the magic
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 14)), "office");
    }
    EXPECT_TRUE(f.offers(9000).empty()) << "one offer per pair";
    EXPECT_EQ(f.handler.nextOfferAt(), -1);

    EXPECT_EQ(f.send(punchRecord(36), CLIENT, 3600), SERVER);
    EXPECT_EQ(f.send(punchRecord(52), SERVER, 3700), CLIENT);
    EXPECT_EQ(f.send(OPENVPN, CLIENT, 3800), SERVER);
    EXPECT_TRUE(f.answers.empty());
    // Anyone else is not a half of the pair and gets nothing passed on.
    EXPECT_EQ(f.send(OPENVPN, STRANGER, 3900), NOWHERE);
    EXPECT_EQ(f.send(OPENVPN, Endpoint{SERVER.ip, 1195}, 3900), NOWHERE);
    const Counters& c = f.handler.counters();
    EXPECT_EQ(c.relayOffered, 1u);
    EXPECT_EQ(c.relayUsed, 1u);
    EXPECT_EQ(c.relayed, 3u);
    EXPECT_EQ(c.relayedBytes, 36u + 52 + 1200);
    EXPECT_EQ(c.malformed, 3u);
}

TEST(Relay, OnlyWhatTheChecksAcceptIsARequestAndARequestEndsTheRelay) {
    Fixture f;
    f.pairUp();
    Bytes longQuery = queryRecord("office");
    longQuery.push_back(0);
    Bytes badName = queryRecord("off\x01ice");
    Bytes shortRegister = registerRecord("office", "PC01");
    shortRegister.resize(36);
    for (const Bytes& datagram : {longQuery, badName, shortRegister, Bytes{1, 2, 3}})
        EXPECT_EQ(f.send(datagram, CLIENT, 4000), SERVER);
    EXPECT_EQ(f.handler.counters().malformed, 0u);

    // The server registers again (its tunnel is over): a request, answered, and the
    // relay ends; what the client sends after that is dropped.
    EXPECT_EQ(f.send(registerRecord("office", "PC01"), SERVER, 5000), NOWHERE);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].to, SERVER);
    EXPECT_EQ(f.handler.relays(), 0u);
    EXPECT_EQ(f.send(OPENVPN, CLIENT, 5001), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayEnded, 1u);

    // A client asking anew ends its relay too, and gets a new pair and offer.
    f.pairUp(10000);
    EXPECT_EQ(f.send(OPENVPN, CLIENT, 12600), SERVER);
    EXPECT_EQ(f.send(queryRecord("office"), CLIENT, 13000), NOWHERE);
    EXPECT_EQ(f.answers.size(), 2u);
    EXPECT_EQ(f.send(OPENVPN, CLIENT, 13001), NOWHERE) << "the new pair waits for its offer";
    EXPECT_EQ(f.offers(15500).size(), 2u);
    EXPECT_EQ(f.send(OPENVPN, CLIENT, 15501), SERVER);
}

TEST(Relay, RelayTrafficIsNotHeldToTheSourceRate) {
    Settings settings = relaying();
    settings.sourceRate = 3;
    Fixture f(settings);
    f.pairUp();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(f.send(OPENVPN, CLIENT, 4000), SERVER) << i;
    EXPECT_EQ(f.handler.counters().sourceLimited, 0u);
    f.send(queryRecord("office"), CLIENT, 4000);
    EXPECT_EQ(f.answers.size(), 2u) << "the client's next request is still welcome";
}

TEST(Relay, AnUntakenOfferEndsAfterTenSecondsAnIdleRelayAfterItsIdleTime) {
    Settings settings = relaying();
    settings.relayIdleMs = 60000;
    Fixture f(settings);
    f.pairUp(1000);                                            // offered at 3500, never taken
    f.pairUp(4000, "lab", Endpoint{SERVER.ip, 2000}, CLIENT2); // offered at 6500, used
    EXPECT_EQ(f.send(OPENVPN, CLIENT2, 7000), (Endpoint{SERVER.ip, 2000}));
    f.handler.expire(13499);
    EXPECT_EQ(f.handler.relays(), 2u);
    f.handler.expire(13500);
    EXPECT_EQ(f.handler.relays(), 1u);
    EXPECT_EQ(f.send(OPENVPN, CLIENT, 13500), NOWHERE);

    // Pings keep the used one going; sixty seconds of silence end it.
    for (int64_t t = 10000; t <= 100000; t += 5000) {
        EXPECT_EQ(f.send(OPENVPN, CLIENT2, t), (Endpoint{SERVER.ip, 2000}));
        f.handler.expire(t);
    }
    f.handler.expire(159999);
    EXPECT_EQ(f.handler.relays(), 1u);
    f.handler.expire(160000);
    EXPECT_EQ(f.handler.relays(), 0u);
    EXPECT_EQ(f.send(OPENVPN, CLIENT2, 160001), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayEnded, 2u);
}

TEST(Relay, TheTableCapAndTheRateCapHold) {
    Settings settings = relaying();
    settings.maxRelays = 1;
    settings.relayRate = 100000;
    settings.peerIntervalMs = 0;
    Fixture f(settings);
    f.pairUp();
    // A second pair finds the table full: answered, but never offered a relay.
    f.send(registerRecord("lab", "PC02"), Endpoint{SERVER.ip, 2000}, 1000);
    f.send(queryRecord("lab"), CLIENT2, 1000);
    EXPECT_EQ(f.answers.size(), 2u);
    EXPECT_EQ(f.handler.counters().relayFull, 1u);
    EXPECT_TRUE(f.offers(10000).empty());

    // A second's worth of the rate passes at once, then what the clock adds.
    int passed = 0;
    for (int i = 0; i < 150; ++i) passed += f.send(OPENVPN, CLIENT, 4000) == SERVER;
    EXPECT_EQ(passed, 83); // 100000 / 1200
    EXPECT_EQ(f.send(OPENVPN, SERVER, 4000), NOWHERE) << "both ways share the cap";
    EXPECT_EQ(f.send(OPENVPN, SERVER, 4024), CLIENT);   // 24 ms at 100000 B/s: 2400 bytes
    EXPECT_EQ(f.send(OPENVPN, SERVER, 4024), CLIENT);
    EXPECT_EQ(f.send(OPENVPN, SERVER, 4024), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayLimited, 67u + 2);
}

TEST(Relay, ARelayInUseKeepsItsServerAnUnusedOneMakesWay) {
    Settings settings = relaying();
    settings.peerIntervalMs = 0;
    Fixture f(settings);
    f.pairUp();
    EXPECT_EQ(f.send(OPENVPN, SERVER, 4000), CLIENT);
    // Another client asks for the name while the tunnel runs: it gets the server's
    // address as always, but the server's relay stays with the first client.
    f.send(queryRecord("office"), CLIENT2, 5000);
    EXPECT_EQ(f.answers.size(), 2u);
    EXPECT_EQ(f.handler.counters().relayBusy, 1u);
    EXPECT_TRUE(f.offers(9000).empty());
    EXPECT_EQ(f.send(OPENVPN, SERVER, 9000), CLIENT);

    // Once that relay is over, a pair whose offer was never taken gives way to the next.
    f.send(registerRecord("office", "PC01"), SERVER, 10000);
    f.send(queryRecord("office"), CLIENT2, 11000);
    ASSERT_EQ(f.offers(13500).size(), 2u);
    f.send(queryRecord("office"), STRANGER, 14000);
    EXPECT_EQ(f.send(OPENVPN, CLIENT2, 14001), NOWHERE);
    auto offers = f.offers(16500);
    ASSERT_EQ(offers.size(), 2u);
    EXPECT_EQ(offers[0].to, STRANGER);
    EXPECT_EQ(f.send(OPENVPN, SERVER, 16600), STRANGER);
}

TEST(Relay, NoRelayWhenTurnedOffOrForAServerAskingForItself) {
    Fixture off(relaying(0));
    off.send(registerRecord("office", "PC01"), SERVER, 0);
    off.send(queryRecord("office"), CLIENT, 1000);
    EXPECT_TRUE(off.offers(100000).empty());
    EXPECT_EQ(off.send(OPENVPN, CLIENT, 100000), NOWHERE);
    EXPECT_EQ(off.handler.relays(), 0u);

    Fixture self;
    self.send(registerRecord("office", "PC01"), SERVER, 0);
    self.send(queryRecord("office"), SERVER, 1000);
    EXPECT_EQ(self.answers.size(), 2u);
    EXPECT_TRUE(self.offers(100000).empty());
}

} // namespace
