// Relaying by the real central binary over real UDP, in the test's own network
// namespace: the offer from central's port, datagrams passed on whole between the
// two halves of a pair that both answered it and nowhere else, and room for others
// when one host floods.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Registered, asked for, both halves told and offered the relay.
void pairUp(Peer& server, Peer& client, const std::string& name = "office") {
    server.send(registerRecord(name, "PC01"));
    expectRecord(server.receive(1000), REGISTERED);
    auto asked = std::chrono::steady_clock::now();
    client.send(queryRecord(name));
    expectRecord(client.receive(1000), PEER_ADDRESS);
    expectRecord(server.receive(1000), PEER_ADDRESS);
    auto offer = client.receive(1500);
    expectRecord(offer, PUNCH);
    EXPECT_GE(offer->at - asked, std::chrono::milliseconds(250));
    expectRecord(server.receive(1000), PUNCH);
}

Bytes punchRecord() {
    Bytes punch = queryRecord("office");
    writeLittle32(punch, 0, PUNCH);
    return punch;
}

// Each half answers the offer four times, as the programs do: the server's answers
// find the client silent since the offer and go nowhere; the client's go on.
TEST(CentralRelay, PassesDatagramsBetweenTheTwoHalvesOfAPairThatAnsweredOnly) {
    CentralProcess central(RELAYING);
    Peer server("127.1.0.1", 1194), client("127.2.0.1", 1194), stranger("127.3.0.1", 1194);
    pairUp(server, client);

    Bytes punch = punchRecord();
    for (int i = 0; i < 4; ++i) server.send(punch);
    EXPECT_TRUE(client.receiveAll(300).empty());
    for (int i = 0; i < 4; ++i) client.send(punch);
    auto atServer = server.receiveAll(500);
    ASSERT_EQ(atServer.size(), 4u) << "each probe passed on once";
    for (const Received& got : atServer) {
        EXPECT_EQ(got.bytes, punch);
        EXPECT_EQ(got.from, "127.0.0.1:3478");
    }
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
    for (const char* line : {"relay offered name=office client=127.2.0.1:1194 server=127.1.0.1:1194",
                             "relay in use name=office client=127.2.0.1:1194 server=127.1.0.1:1194 (first "
                             "datagram from the client)",
                             "relay ended name=office client=127.2.0.1:1194 server=127.1.0.1:1194 (request from "
                             "the server) datagrams=5 bytes=1544 limited=0 unconsented=4",
                             " relayed=5 relayed_bytes=1544 ", " malformed=2 ", " relay_unconsented=4 "})
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
    server.send(pattern(100)); // the server's consent
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

// A name registered from a victim's address (the one datagram a spoofer sends from
// it), then a client that asks, takes the offer and sends 50 datagrams of 1000
// bytes: the victim hears central's three records and nothing else, also when the
// client asks again.
TEST(CentralRelay, NothingReachesAnAddressThatNeverAnsweredTheOffer) {
    CentralProcess central(RELAYING);
    Peer victim("127.5.0.1", 1194), client("127.2.0.1", 1194);
    pairUp(victim, client, "victim");
    for (int i = 0; i < 4; ++i) client.send(punchRecord());
    for (int i = 0; i < 50; ++i) client.send(pattern(1000));
    sleepMs(2600);
    client.send(queryRecord("victim"));
    EXPECT_FALSE(client.receive(1000).has_value());
    EXPECT_TRUE(victim.receiveAll(500).empty());

    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    EXPECT_EQ(log.find("relay in use"), std::string::npos) << log;
    for (const char* line : {" relayed=0 ", " relay_unconsented=54 ", " name_limited=1 "})
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
    server.send(punchRecord());
    client.send(punchRecord());
    expectRecord(server.receive(1000), PUNCH);
    server.send(pattern(1400));
    auto atClient = client.receive(1000);
    ASSERT_TRUE(atClient.has_value());
    EXPECT_EQ(atClient->bytes, pattern(1400));

    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    EXPECT_EQ(log.find("relay not offered: table full"), std::string::npos) << log;
    for (const char* line : {"relay in use name=office client=127.2.0.1:1194 server=127.1.0.1:1194",
                             "relay ended name=flood", "(127.9.0.1 holds 10 relays in use)", " relays_in_use=11 ",
                             " relay_source_full=90 "})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

} // namespace
