// Relaying by the real central binary over real UDP, in the test's own network
// namespace: the offer from central's port, to the server first and to the client
// once the server took it, datagrams passed on whole between the two halves of a
// pair that both answered it and nowhere else, no loop between two echoing hosts,
// and room for others when one host floods.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "support/central_process.h"
#include "support/peer.h"

namespace {

const uint32_t REGISTERED = 2, PEER_ADDRESS = 5, PUNCH = 6;
const std::vector<std::string> RELAYING = {"--repeat-delay", "0", "--relay-after", "300"};

void expectRecord(const std::optional<Received>& got, uint32_t type) {
    ASSERT_TRUE(got.has_value()) << "nothing of type " << type;
    EXPECT_EQ(readLittle32(got->bytes, 0), type);
    EXPECT_EQ(readLittle32(got->bytes, 4), 12345u);
    EXPECT_EQ(got->from, "127.0.0.1:3478");
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

Bytes pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + 1);
    return bytes;
}

// Registered, asked for, both halves told and the server offered the relay; the
// client is not offered yet. Returns the offer.
Bytes pairUp(Peer& server, Peer& client, const std::string& name = "office") {
    server.send(registerRecord(name, "PC01"));
    expectRecord(server.receive(1000), REGISTERED);
    auto asked = std::chrono::steady_clock::now();
    client.send(queryRecord(name));
    expectRecord(client.receive(1000), PEER_ADDRESS);
    expectRecord(server.receive(1000), PEER_ADDRESS);
    auto offer = server.receive(1500);
    expectRecord(offer, PUNCH);
    EXPECT_GE(offer->at - asked, std::chrono::milliseconds(250));
    EXPECT_FALSE(client.receive(300).has_value()) << "the client is offered once the server has taken it";
    return offer ? offer->bytes : Bytes{};
}

// The server's own MSG_PUNCH, as it answers the offer: its 52-byte record.
Bytes serverPunch() {
    Bytes punch = registerRecord("office", "PC01");
    writeLittle32(punch, 0, PUNCH);
    return punch;
}

// The server takes its offer (four answers, as the program sends), then the client
// is offered and answers with the record it was sent.
void takeOffer(Peer& server, Peer& client) {
    for (int i = 0; i < 4; ++i) server.send(serverPunch());
    auto offer = client.receive(1000);
    expectRecord(offer, PUNCH);
    ASSERT_TRUE(offer.has_value());
    for (int i = 0; i < 4; ++i) client.send(offer->bytes);
}

// Each half answers the offer four times, as the programs do: the server's answers
// find the client silent and go nowhere; the client's are the offer itself, its
// consent, and go nowhere either. Then both ways, and nothing to anyone else.
TEST(CentralRelay, PassesDatagramsBetweenTheTwoHalvesOfAPairThatAnsweredOnly) {
    CentralProcess central(RELAYING);
    Peer server("127.1.0.1", 1194), client("127.2.0.1", 1194), stranger("127.3.0.1", 1194);
    pairUp(server, client);
    takeOffer(server, client);
    EXPECT_TRUE(server.receiveAll(300).empty());
    EXPECT_TRUE(client.receiveAll(1).empty());

    client.send(pattern(1000));
    auto atServer = server.receive(1000);
    ASSERT_TRUE(atServer.has_value());
    EXPECT_EQ(atServer->bytes, pattern(1000));
    EXPECT_EQ(atServer->from, "127.0.0.1:3478");
    server.send(pattern(1400));
    auto atClient = client.receive(1000);
    ASSERT_TRUE(atClient.has_value());
    EXPECT_EQ(atClient->bytes, pattern(1400));

    stranger.send(pattern(1400));
    EXPECT_TRUE(server.receiveAll(300).empty());
    EXPECT_TRUE(client.receiveAll(1).empty());

    // The server registers again after its tunnel: answered, and the relay is over.
    server.send(registerRecord("office", "PC01"));
    expectRecord(server.receive(1000), REGISTERED);
    client.send(pattern(1400));
    EXPECT_TRUE(server.receiveAll(300).empty());

    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    for (const char* line : {"relay offered to the server name=office client=127.2.0.1:1194 server=127.1.0.1:1194",
                             "relay taken by the server, offered to the client name=office client=127.2.0.1:1194 "
                             "server=127.1.0.1:1194",
                             "relay in use name=office client=127.2.0.1:1194 server=127.1.0.1:1194 (first "
                             "datagram from the client)",
                             "relay ended name=office client=127.2.0.1:1194 server=127.1.0.1:1194 (request from "
                             "the server) datagrams=2 bytes=2400 limited=0 unconsented=4",
                             " relayed=2 relayed_bytes=2400 ", " malformed=2 ", " relay_offered=1 relay_taken=1 ",
                             " relay_unconsented=4 relay_loops=0 "})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

// A link with the usual MTU: what arrived in fragments (OpenVPN's full-sized
// datagrams) goes on whole, fragmented again; central's own answers still leave with
// "don't fragment" and an IP identification of 0.
TEST(CentralRelay, DatagramsLargerThanTheLinkGoOnWholeAndAnswersStayProbes) {
    ASSERT_EQ(std::system("ip link set lo mtu 1500"), 0);
    int raw = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_UDP);
    ASSERT_GE(raw, 0) << "a raw socket needs root";
    int room = 8 << 20; // the large datagrams pass by it too, twice
    setsockopt(raw, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    CentralProcess central(RELAYING);
    Peer server("127.1.0.1", 1194), client("127.2.0.1", 1194);
    pairUp(server, client);
    takeOffer(server, client);
    for (size_t size : {1472u, 1473u, 4000u, 60000u}) {
        client.send(pattern(size));
        auto got = server.receive(1000);
        ASSERT_TRUE(got.has_value()) << size << " bytes not passed on";
        EXPECT_EQ(got->bytes, pattern(size));
    }
    server.send(registerRecord("office", "PC01"));
    expectRecord(server.receive(1000), REGISTERED);

    int answers = 0;
    uint8_t packet[65536];
    ssize_t got;
    while ((got = recv(raw, packet, sizeof packet, 0)) > 0) {
        size_t header = (packet[0] & 15u) * 4u;
        if (size_t(got) != header + 8 + 36 || (packet[header] << 8 | packet[header + 1]) != 3478) continue;
        ++answers;
        EXPECT_TRUE(packet[6] & 0x40) << "no \"don't fragment\" on answer " << answers;
        EXPECT_EQ(packet[4] << 8 | packet[5], 0) << "IP identification of answer " << answers;
    }
    close(raw);
    EXPECT_EQ(answers, 6); // MSG_REGISTERED, two MSG_PEER_ADDRESS, two offers, MSG_REGISTERED
}

// A server half that only answers what reaches it, as OpenVPN in server mode does
// once the server punched through directly, or a name registered from a victim's
// address (the one datagram a spoofer sends from it): it never takes its offer, so
// its client is never offered one and keeps to its punch; what the client sends to
// central all the same goes nowhere. The server's address hears central's three
// records and nothing else, also when the client asks again.
TEST(CentralRelay, AClientIsNeverLeftWithARelayItsServerDoesNotAnswer) {
    CentralProcess central(RELAYING);
    Peer server("127.5.0.1", 1194), client("127.2.0.1", 1194);
    Bytes offer = pairUp(server, client, "victim");
    for (int i = 0; i < 4; ++i) client.send(offer);
    for (int i = 0; i < 50; ++i) client.send(pattern(1000));
    EXPECT_TRUE(client.receiveAll(2000).empty()) << "no offer, nothing passed back";
    client.send(queryRecord("victim"));
    EXPECT_FALSE(client.receive(1000).has_value());
    EXPECT_TRUE(server.receiveAll(500).empty()) << "0 of 50 reach the server, which answers nothing";

    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    EXPECT_EQ(log.find("relay in use"), std::string::npos) << log;
    EXPECT_EQ(log.find("offered to the client"), std::string::npos) << log;
    for (const char* line : {" relayed=0 ", " relay_offered=1 relay_taken=0 ", " name_limited=1 ", " malformed=54 "})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

// A spoofed query from a victim's address for a name whose server takes the offer
// and sends 50 datagrams of 1000 bytes: the victim hears its peer address and its
// one offer, and nothing of the 50.
TEST(CentralRelay, ASilentClientGetsItsOfferAndNothingElse) {
    CentralProcess central(RELAYING);
    Peer server("127.1.0.1", 1194), victim("127.5.0.2", 1194);
    pairUp(server, victim);
    for (int i = 0; i < 4; ++i) server.send(serverPunch());
    for (int i = 0; i < 50; ++i) server.send(pattern(1000));
    auto atVictim = victim.receiveAll(1000);
    ASSERT_EQ(atVictim.size(), 1u);
    expectRecord(atVictim[0], PUNCH);
    EXPECT_EQ(central.stop(SIGTERM), 0);
    EXPECT_NE(central.log().find(" relayed=0 "), std::string::npos) << central.log();
}

// Two hosts that send every datagram back where it came from (echo services exist by
// the thousand), made a pair by one registration and one query. Each sends its offer
// back, which is its consent and goes nowhere; one more datagram from one of them
// comes straight back from the other, and the relay ends there: a handful of
// datagrams in all, not a loop.
TEST(CentralRelay, TwoEchoingHostsGetAHandfulOfDatagramsAndTheRelayEnds) {
    CentralProcess central({"--relay-after", "300"});
    Peer first("127.6.0.1", 40000), second("127.6.0.2", 40000);
    std::atomic<bool> running{true};
    std::atomic<int> received{0};
    auto echo = [&](Peer& host) {
        while (running)
            if (auto got = host.receive(50)) {
                ++received;
                host.send(got->bytes);
            }
    };
    first.send(registerRecord("echo", "PC01"));
    sleepMs(100);
    second.send(queryRecord("echo"));
    std::thread firstEcho(echo, std::ref(first)), secondEcho(echo, std::ref(second));
    EXPECT_TRUE(central.waitForLog("relay taken by the server, offered to the client", 3000));
    sleepMs(500); // the client's offer and its repeat came and went back
    first.send(pattern(500));
    sleepMs(1500);
    running = false;
    firstEcho.join();
    secondEcho.join();
    EXPECT_LE(received.load(), 12);
    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    for (const char* line : {"(loop: the client sent back what it was passed) datagrams=1 bytes=500",
                             " relayed=1 relayed_bytes=500 ", " relay_loops=1 "})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

// One host (one address, many ports) registers 100 names and asks for each, takes
// every offer from both halves and sends: it gets its share of the relays in use
// (10 by default), and a pair from other addresses is still offered a relay and
// carried. Without the per-source rate, so that the flood takes a moment, not 11 s.
TEST(CentralRelay, AFloodFromOneHostLeavesRelaysForOthers) {
    std::vector<std::string> options = RELAYING;
    options.insert(options.end(), {"--source-rate", "0"});
    CentralProcess central(options);
    std::vector<std::unique_ptr<Peer>> servers, clients;
    for (int i = 0; i < 100; ++i) {
        servers.push_back(std::make_unique<Peer>("127.9.0.1", uint16_t(2000 + i)));
        clients.push_back(std::make_unique<Peer>("127.9.0.1", uint16_t(3000 + i)));
        servers[i]->send(registerRecord("flood" + std::to_string(i), "PC01"));
        clients[i]->send(queryRecord("flood" + std::to_string(i)));
    }
    sleepMs(600);
    for (int i = 0; i < 100; ++i) servers[i]->send(pattern(100));
    for (int i = 0; i < 100; ++i) clients[i]->send(pattern(100));
    sleepMs(300);
    size_t relayed = 0;
    for (auto& server : servers)
        while (auto got = server->receive(0)) relayed += got->bytes == pattern(100);
    EXPECT_EQ(relayed, 10u);

    Peer server("127.1.0.1", 1194), client("127.2.0.1", 1194);
    pairUp(server, client);
    takeOffer(server, client);
    server.send(pattern(1400));
    auto atClient = client.receive(1000);
    ASSERT_TRUE(atClient.has_value());
    EXPECT_EQ(atClient->bytes, pattern(1400));

    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    EXPECT_EQ(log.find("relay not offered: table full"), std::string::npos) << log;
    for (const char* line : {"relay in use name=office client=127.2.0.1:1194 server=127.1.0.1:1194",
                             "more relay lines held back", " relays_in_use=11 ", " relay_ended=90 ",
                             " relay_source_full=90 "})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

} // namespace
