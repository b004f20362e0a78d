// Relaying in the datagram handler, with a clock the test turns: when the offer
// goes out and to whom, what is passed on to whom, what still counts as a request,
// and when a relay ends.
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

Bytes punchRecord(size_t size) {
    Bytes bytes(size, 0);
    writeLittle32(bytes, 0, 6);
    writeLittle32(bytes, 4, 12345);
    return bytes;
}
// An OpenVPN datagram of 1200 bytes; no two alike, as OpenVPN numbers its packets.
Bytes openVpn() {
    static uint32_t packetId = 0;
    Bytes bytes(1200, 0x38);
    writeLittle32(bytes, 1, ++packetId);
    return bytes;
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
    // Server registered at 0, client's query answered at `at`, the offer sent to the
    // server.
    void pairUp(int64_t at = 1000, const std::string& name = "office", Endpoint server = SERVER,
                Endpoint client = CLIENT) {
        send(registerRecord(name, "PC01"), server, at - 1000);
        ASSERT_EQ(send(queryRecord(name), client, at), NOWHERE) << "a query is no relay traffic";
        ASSERT_EQ(answers.size(), 2u);
        auto offered = offers(at + 2500);
        ASSERT_EQ(offered.size(), 1u);
        ASSERT_EQ(offered[0].to, server);
        offer.assign(offered[0].bytes.begin(), offered[0].bytes.end());
    }
    // Both halves answer the offer, as the programs do: the server first (its 52-byte
    // record), which makes central offer the client; its answer finds the client
    // silent and goes nowhere. The client answers with the very record it was sent:
    // its consent, passed on to nobody. Then the client's OpenVPN starts, and its
    // first datagram takes the relay into use.
    void answerOffer(int64_t at, Endpoint server = SERVER, Endpoint client = CLIENT) {
        ASSERT_EQ(send(punchRecord(52), server, at), NOWHERE);
        ASSERT_EQ(answers.size(), 1u) << "the client's offer";
        ASSERT_EQ(answers[0].to, client);
        Bytes offer(answers[0].bytes.begin(), answers[0].bytes.end());
        ASSERT_EQ(send(offer, client, at), NOWHERE);
        ASSERT_EQ(send(openVpn(), client, at), server);
    }
    EventLog log{nullptr, false};
    Handler handler;
    std::vector<Answer> answers;
    Bytes offer; // the last offer pairUp saw
};

TEST(Relay, OfferedToTheServerAfterTheDelayToTheClientOnceTheServerTookItThenPassesBothWays) {
    Fixture f;
    f.send(registerRecord("office", "PC01"), SERVER, 0);
    f.send(queryRecord("office"), CLIENT, 1000);
    EXPECT_EQ(f.handler.nextOfferAt(), 3500);
    EXPECT_TRUE(f.offers(3499).empty());
    // Before the offer nothing from the pair is passed on.
    EXPECT_EQ(f.send(openVpn(), CLIENT, 3499), NOWHERE);

    auto offers = f.offers(3500);
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0].to, SERVER);
    Bytes offer(offers[0].bytes.begin(), offers[0].bytes.end());
    EXPECT_EQ(readLittle32(offer, 0), 6u);     // MSG_PUNCH
    EXPECT_EQ(readLittle32(offer, 4), 12345u); // the magic
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(offer.data() + 14)), "office");
    EXPECT_TRUE(f.offers(9000).empty()) << "one offer per pair";
    EXPECT_EQ(f.handler.nextOfferAt(), -1);

    // Until the server has taken it, the client is not offered, and what it sends is
    // no relay traffic.
    EXPECT_EQ(f.send(offer, CLIENT, 3520), NOWHERE);
    EXPECT_TRUE(f.answers.empty());
    // The server's answer to its offer: the client is offered the same record.
    EXPECT_EQ(f.send(punchRecord(52), SERVER, 3550), NOWHERE) << "the client has not answered yet";
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].to, CLIENT);
    EXPECT_EQ(Bytes(f.answers[0].bytes.begin(), f.answers[0].bytes.end()), offer);
    EXPECT_EQ(f.send(punchRecord(52), SERVER, 3560), NOWHERE);
    EXPECT_TRUE(f.answers.empty()) << "one offer to the client";
    EXPECT_EQ(f.handler.relaysInUse(), 0u);
    // The client's answer is the offer itself: its consent, passed on to nobody.
    EXPECT_EQ(f.send(offer, CLIENT, 3600), NOWHERE);
    EXPECT_EQ(f.send(punchRecord(52), SERVER, 3700), CLIENT);
    EXPECT_EQ(f.send(openVpn(), CLIENT, 3800), SERVER);
    EXPECT_TRUE(f.answers.empty());
    // Anyone else is not a half of the pair and gets nothing passed on.
    EXPECT_EQ(f.send(openVpn(), STRANGER, 3900), NOWHERE);
    EXPECT_EQ(f.send(openVpn(), Endpoint{SERVER.ip, 1195}, 3900), NOWHERE);
    const Counters& c = f.handler.counters();
    EXPECT_EQ(c.relayOffered, 1u);
    EXPECT_EQ(c.relayTaken, 1u);
    EXPECT_EQ(c.relayUsed, 1u);
    EXPECT_EQ(c.relayed, 2u);
    EXPECT_EQ(c.relayedBytes, 52u + 1200);
    EXPECT_EQ(c.relayUnconsented, 2u);
    EXPECT_EQ(c.malformed, 4u);
}

TEST(Relay, OnlyWhatTheChecksAcceptIsARequestAndARequestEndsTheRelay) {
    Fixture f;
    f.pairUp();
    f.answerOffer(3600);
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
    EXPECT_EQ(f.send(openVpn(), CLIENT, 5001), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayEnded, 1u);

    // A client asking anew ends its relay too; once its server has registered
    // again, it gets a new pair and offer, which both halves answer anew.
    f.pairUp(10000);
    f.answerOffer(12600);
    EXPECT_EQ(f.send(queryRecord("office"), CLIENT, 13000), NOWHERE);
    EXPECT_EQ(f.handler.relays(), 0u);
    f.pairUp(14000);
    EXPECT_EQ(f.send(openVpn(), CLIENT, 16501), NOWHERE) << "the server has not answered the new offer";
    f.answerOffer(16502);
    EXPECT_EQ(f.send(openVpn(), SERVER, 16600), CLIENT);
}

TEST(Relay, RelayTrafficIsNotHeldToTheSourceRate) {
    Settings settings = relaying();
    settings.sourceRate = 3;
    Fixture f(settings);
    f.pairUp();
    f.answerOffer(3600);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(f.send(openVpn(), CLIENT, 4000), SERVER) << i;
    EXPECT_EQ(f.handler.counters().sourceLimited, 0u);
    f.send(registerRecord("mine", "PC09"), CLIENT, 4000);
    EXPECT_EQ(f.answers.size(), 1u) << "the client's next request is still welcome";
}

TEST(Relay, AnUntakenOfferEndsAfterTenSecondsAnIdleRelayAfterItsIdleTime) {
    Settings settings = relaying();
    settings.relayIdleMs = 60000;
    Fixture f(settings);
    const Endpoint LAB{SERVER.ip, 2000};
    f.pairUp(1000);                   // offered at 3500, never taken
    f.pairUp(4000, "lab", LAB, CLIENT2); // offered at 6500, used
    f.answerOffer(7000, LAB, CLIENT2);
    f.handler.expire(13499);
    EXPECT_EQ(f.handler.relays(), 2u);
    f.handler.expire(13500);
    EXPECT_EQ(f.handler.relays(), 1u);
    EXPECT_EQ(f.send(openVpn(), CLIENT, 13500), NOWHERE);

    // Pings both ways keep the used one going; sixty seconds of silence end it.
    for (int64_t t = 10000; t <= 100000; t += 5000) {
        EXPECT_EQ(f.send(openVpn(), CLIENT2, t), LAB);
        EXPECT_EQ(f.send(openVpn(), LAB, t), CLIENT2);
        f.handler.expire(t);
    }
    f.handler.expire(159999);
    EXPECT_EQ(f.handler.relays(), 1u);
    f.handler.expire(160000);
    EXPECT_EQ(f.handler.relays(), 0u);
    EXPECT_EQ(f.send(openVpn(), CLIENT2, 160001), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayEnded, 2u);
}

TEST(Relay, TheTableCapAndTheRateCapHold) {
    Settings settings = relaying();
    settings.maxRelays = 1;
    settings.relayRate = 100000;
    settings.peerIntervalMs = 0;
    Fixture f(settings);
    f.pairUp();
    f.answerOffer(3600);
    // A second pair finds the relays in use at their cap: answered, but never
    // offered a relay.
    f.send(registerRecord("lab", "PC02"), Endpoint{SERVER.ip, 2000}, 3700);
    f.send(queryRecord("lab"), CLIENT2, 3700);
    EXPECT_EQ(f.answers.size(), 2u);
    EXPECT_EQ(f.handler.counters().relayFull, 1u);
    EXPECT_TRUE(f.offers(10000).empty());

    // A second's worth of the rate passes at once, then what the clock adds.
    int passed = 0;
    for (int i = 0; i < 150; ++i) passed += f.send(openVpn(), CLIENT, 4000) == SERVER;
    EXPECT_EQ(passed, 83); // 100000 / 1200
    EXPECT_EQ(f.send(openVpn(), SERVER, 4000), NOWHERE) << "both ways share the cap";
    EXPECT_EQ(f.send(openVpn(), SERVER, 4024), CLIENT);   // 24 ms at 100000 B/s: 2400 bytes
    EXPECT_EQ(f.send(openVpn(), SERVER, 4024), CLIENT);
    EXPECT_EQ(f.send(openVpn(), SERVER, 4024), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayLimited, 67u + 2);
}

TEST(Relay, ARelayInUseKeepsItsServerAnUnusedOneMakesWay) {
    Settings settings = relaying();
    settings.peerIntervalMs = 0;
    Fixture f(settings);
    f.send(registerRecord("lab", "PC02"), SERVER, 0); // a second name at the same address
    f.pairUp();
    f.answerOffer(3600);
    // A client asks for the other name while the tunnel runs: it gets the address
    // as always, but the relay there stays with the first client.
    f.send(queryRecord("lab"), CLIENT2, 5000);
    EXPECT_EQ(f.answers.size(), 2u);
    EXPECT_EQ(f.handler.counters().relayBusy, 1u);
    EXPECT_TRUE(f.offers(9000).empty());
    EXPECT_EQ(f.send(openVpn(), SERVER, 9000), CLIENT);

    // Once that relay is over, a pair whose offer was never taken gives way to the next.
    f.send(registerRecord("office", "PC01"), SERVER, 10000);
    f.send(registerRecord("lab", "PC02"), SERVER, 10000);
    f.send(queryRecord("office"), CLIENT2, 11000);
    ASSERT_EQ(f.offers(13500).size(), 1u);
    f.send(queryRecord("lab"), STRANGER, 14000);
    EXPECT_EQ(f.send(openVpn(), SERVER, 14001), NOWHERE);
    auto offers = f.offers(16500);
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0].to, SERVER);
    f.answerOffer(16600, SERVER, STRANGER);
}

TEST(Relay, NoRelayWhenTurnedOffOrForAServerAskingForItself) {
    Fixture off(relaying(0));
    off.send(registerRecord("office", "PC01"), SERVER, 0);
    off.send(queryRecord("office"), CLIENT, 1000);
    EXPECT_TRUE(off.offers(100000).empty());
    EXPECT_EQ(off.send(openVpn(), CLIENT, 100000), NOWHERE);
    EXPECT_EQ(off.handler.relays(), 0u);

    Fixture self;
    self.send(registerRecord("office", "PC01"), SERVER, 0);
    self.send(queryRecord("office"), SERVER, 1000);
    EXPECT_EQ(self.answers.size(), 2u);
    EXPECT_TRUE(self.offers(100000).empty());
}

// A server that never answers its offer: one that punched through (its OpenVPN only
// answers what reaches it), or a name registered from someone else's address. Its
// client is never offered the relay, so it cannot be left with one its server does
// not use; what it sends to central anyway goes nowhere, and the offer ends untaken.
TEST(Relay, AServerThatNeverAnswersLeavesItsClientUnoffered) {
    Fixture f;
    f.pairUp(); // SERVER sends nothing after its registration
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f.send(punchRecord(36), CLIENT, 3600), NOWHERE);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(f.send(Bytes(1000, 0x38), CLIENT, 3700 + i), NOWHERE);
    EXPECT_TRUE(f.offers(13000).empty());
    const Counters& c = f.handler.counters();
    EXPECT_EQ(c.relayTaken, 0u);
    EXPECT_EQ(c.relayed, 0u);
    EXPECT_EQ(c.relayUsed, 0u);
    EXPECT_EQ(c.malformed, 54u);
    f.handler.expire(13500);
    EXPECT_EQ(f.handler.relays(), 0u) << "not taken";
}

// A query sent from someone else's address (one spoofed datagram) for a name whose
// server takes the offer and sends: the address is offered once and gets nothing
// else, however much comes for it.
TEST(Relay, AClientThatNeverAnswersGetsItsOfferOnly) {
    Fixture f;
    f.pairUp();
    EXPECT_EQ(f.send(punchRecord(52), SERVER, 3600), NOWHERE);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].to, CLIENT);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(f.send(Bytes(1000, uint8_t(i)), SERVER, 3700 + i), NOWHERE);
        EXPECT_TRUE(f.answers.empty());
    }
    EXPECT_EQ(f.handler.counters().relayUnconsented, 51u);
    EXPECT_EQ(f.handler.counters().relayed, 0u);
}

TEST(Relay, ConsentLapsesAfterTheConsentTimeAndComesBackWithTheNextDatagram) {
    Settings settings = relaying();
    settings.relayConsentMs = 30000;
    Fixture f(settings);
    f.pairUp();
    f.answerOffer(3600); // both halves heard at 3600
    EXPECT_EQ(f.send(openVpn(), CLIENT, 33599), SERVER);
    EXPECT_EQ(f.send(openVpn(), CLIENT, 33600), NOWHERE) << "the server has been silent for 30 s";
    EXPECT_EQ(f.send(openVpn(), CLIENT, 50000), NOWHERE);
    EXPECT_EQ(f.send(openVpn(), SERVER, 60000), CLIENT) << "the client sent 10 s ago";
    EXPECT_EQ(f.send(openVpn(), CLIENT, 60001), SERVER) << "the server is back";
    EXPECT_EQ(f.send(openVpn(), SERVER, 90001), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayUnconsented, 1u + 2 + 1);
    EXPECT_EQ(f.handler.relays(), 1u);
}

// Two hosts that send every datagram back where it came from, made a pair: each sends
// its offer back (its consent, passed on to nobody), and the first datagram through
// the relay comes straight back, which ends it. A half that sends the same bytes twice
// of its own is no echo.
TEST(Relay, AHalfThatSendsBackWhatItWasPassedEndsTheRelay) {
    Fixture f;
    f.pairUp();
    // The server's echo of its offer is its consent, and central offers the client.
    EXPECT_EQ(f.send(f.offer, SERVER, 3600), NOWHERE);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.send(f.offer, CLIENT, 3600), NOWHERE);
    EXPECT_EQ(f.send(f.offer, SERVER, 3800), NOWHERE) << "the offer's repeat, echoed";
    EXPECT_EQ(f.handler.counters().relayed, 0u);

    Bytes same = openVpn();
    EXPECT_EQ(f.send(same, SERVER, 4000), CLIENT);
    EXPECT_EQ(f.send(same, SERVER, 4001), CLIENT) << "its own datagram again";
    EXPECT_EQ(f.send(same, CLIENT, 4002), NOWHERE) << "what it was passed, sent back";
    EXPECT_EQ(f.handler.relays(), 0u);
    EXPECT_EQ(f.send(same, SERVER, 4003), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayLoops, 1u);
    EXPECT_EQ(f.handler.counters().relayed, 2u);
}

// However busy, a relay ends at its lifetime; the programs then connect again.
TEST(Relay, ARelayEndsAtItsLifetime) {
    Settings settings = relaying();
    settings.relayLifetimeMs = 3600000;
    Fixture f(settings);
    f.pairUp(); // offered at 3500
    f.answerOffer(3600);
    for (int64_t t = 4000; t < 3603500; t += 10000) {
        ASSERT_EQ(f.send(openVpn(), CLIENT, t), SERVER) << t;
        ASSERT_EQ(f.send(openVpn(), SERVER, t), CLIENT) << t;
        f.handler.expire(t);
    }
    EXPECT_EQ(f.handler.relays(), 1u);
    f.handler.expire(3603500);
    EXPECT_EQ(f.handler.relays(), 0u);
    EXPECT_EQ(f.send(openVpn(), CLIENT, 3603501), NOWHERE);
}

// One host, many ports: its pairs take at most its share of the relays in use; the
// rest are ended when they would start, and not offered once it holds its share.
// A pair from other addresses still gets a relay.
TEST(Relay, OneSourceAddressTakesPartInAtMostItsShareOfTheRelaysInUse) {
    Settings settings = relaying();
    settings.sourceRelays = 2;
    settings.sourceRate = 0;
    Fixture f(settings);
    const uint32_t HOST = 0x0a090001;
    for (uint16_t i = 0; i < 4; ++i)
        f.pairUp(1000 + i, "flood" + std::to_string(i), Endpoint{HOST, uint16_t(2000 + i)},
                 Endpoint{HOST, uint16_t(3000 + i)});
    int passed = 0;
    for (uint16_t i = 0; i < 4; ++i) {
        Endpoint server{HOST, uint16_t(2000 + i)}, client{HOST, uint16_t(3000 + i)};
        f.send(punchRecord(36), server, 4000);
        passed += f.send(punchRecord(36), client, 4000) == server;
    }
    EXPECT_EQ(passed, 2);
    EXPECT_EQ(f.handler.relaysInUse(), 2u);
    EXPECT_EQ(f.handler.relays(), 2u) << "the others ended when they would have started";
    EXPECT_EQ(f.handler.counters().relaySourceFull, 2u);

    // The host as one half of a new pair: no offer. Anyone else: relayed.
    f.send(registerRecord("home", "PC03"), Endpoint{HOST, 2100}, 5000);
    f.send(queryRecord("home"), CLIENT2, 5000);
    EXPECT_EQ(f.answers.size(), 2u);
    EXPECT_EQ(f.handler.counters().relaySourceFull, 3u);
    f.pairUp(6000);
    f.answerOffer(8600);
    EXPECT_EQ(f.handler.relaysInUse(), 3u);
}

// Offers wait in a table of their own: pairs that are offered a relay but never use
// it do not keep others from relays in use.
TEST(Relay, OffersWaitApartFromTheRelaysInUse) {
    Settings settings = relaying();
    settings.maxRelays = 1;
    settings.maxOffers = 2;
    settings.sourceRate = 0;
    Fixture f(settings);
    for (uint16_t i = 0; i < 3; ++i)
        f.send(registerRecord("n" + std::to_string(i), "PC"), Endpoint{SERVER.ip, uint16_t(2000 + i)}, 0);
    for (uint16_t i = 0; i < 3; ++i)
        f.send(queryRecord("n" + std::to_string(i)), Endpoint{CLIENT.ip, uint16_t(3000 + i)}, 1000);
    EXPECT_EQ(f.handler.counters().relayFull, 1u) << "the third pair finds the offers at their cap";
    EXPECT_EQ(f.offers(3500).size(), 2u); // one to each server
    f.answerOffer(3600, Endpoint{SERVER.ip, 2000}, Endpoint{CLIENT.ip, 3000});
    // With one relay in use (its cap) and one offer, a new pair is not offered, and
    // the waiting offer cannot start.
    f.send(registerRecord("n2", "PC"), Endpoint{SERVER.ip, 2002}, 3700);
    f.send(queryRecord("n2"), Endpoint{CLIENT.ip, 3002}, 3700);
    EXPECT_EQ(f.handler.counters().relayFull, 2u);
    f.send(punchRecord(36), Endpoint{SERVER.ip, 2001}, 3800);
    EXPECT_EQ(f.send(punchRecord(36), Endpoint{CLIENT.ip, 3001}, 3800), NOWHERE);
    EXPECT_EQ(f.handler.counters().relayFull, 3u);
    EXPECT_EQ(f.handler.relays(), 1u);
}

} // namespace
