// The real central binary over real UDP, inside the test's own network
// namespace. Servers and clients sit at loopback addresses of their own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/central_process.h"
#include "support/peer.h"

namespace {

const uint32_t REGISTERED = 2, NAME_TAKEN = 4, PEER_ADDRESS = 5;

std::string nameIn(const Received& got) {
    std::string name;
    for (size_t i = 14; i < 34 && got.bytes[i] != 0; ++i) name += char(got.bytes[i]);
    return name;
}

// The answer central sends: 36 bytes from 127.0.0.1:3478 with the magic, the
// type and the name it is about.
void expectAnswer(const std::optional<Received>& got, uint32_t type, const std::string& name) {
    ASSERT_TRUE(got.has_value()) << "no answer of type " << type;
    EXPECT_EQ(got->bytes.size(), 36u);
    EXPECT_EQ(readLittle32(got->bytes, 0), type);
    EXPECT_EQ(readLittle32(got->bytes, 4), 12345u);
    EXPECT_EQ(nameIn(*got), name);
    EXPECT_EQ(got->from, "127.0.0.1:3478");
}

Bytes peerField(const Received& got) { return Bytes(got.bytes.begin() + 8, got.bytes.begin() + 14); }

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

const std::vector<std::string> ONCE = {"--repeat-delay", "0"};

TEST(CentralService, RegistersAFreeNameAndAnswersTheSource) {
    CentralProcess central(ONCE);
    Peer server("127.1.0.1", 1194);
    server.send(registerRecord("office", "PC01"));
    expectAnswer(server.receive(1000), REGISTERED, "office");
    EXPECT_TRUE(central.waitForLog("registered name=office computer=PC01 from=127.1.0.1:1194"));
}

TEST(CentralService, TheHolderRefreshesAlsoFromANewAddress) {
    CentralProcess central(ONCE);
    Peer before("127.1.0.1", 1194), after("127.1.0.9", 50000), client("127.2.0.1", 1194);
    before.send(registerRecord("office", "PC01"));
    expectAnswer(before.receive(1000), REGISTERED, "office");
    // After a tunnel the server comes back through a new NAT mapping.
    after.send(registerRecord("office", "PC01"));
    expectAnswer(after.receive(1000), REGISTERED, "office");
    EXPECT_TRUE(central.waitForLog("refreshed name=office computer=PC01 from=127.1.0.9:50000 (moved from "
                                   "127.1.0.1:1194)"));

    client.send(queryRecord("office"));
    auto answer = client.receive(1000);
    expectAnswer(answer, PEER_ADDRESS, "office");
    EXPECT_EQ(peerField(*answer), (Bytes{0x09, 0x00, 0x01, 0x7f, 0x50, 0xc3})); // 127.1.0.9:50000
    expectAnswer(after.receive(1000), PEER_ADDRESS, "office");
    EXPECT_FALSE(before.receive(300).has_value()) << "the old mapping must not be told";
}

TEST(CentralService, AnotherComputerGetsNameTakenWhileTheHolderIsFresh) {
    CentralProcess central(ONCE);
    Peer holder("127.1.0.1", 1194), rival("127.1.0.2", 1194), client("127.2.0.1", 1194);
    holder.send(registerRecord("office", "PC01"));
    expectAnswer(holder.receive(1000), REGISTERED, "office");
    rival.send(registerRecord("office", "PC02"));
    expectAnswer(rival.receive(1000), NAME_TAKEN, "office");
    EXPECT_TRUE(central.waitForLog("name taken name=office computer=PC02 from=127.1.0.2:1194 held by "
                                   "computer=PC01 at 127.1.0.1:1194"));
    // The holder keeps the name: its repeat is still welcome, and queries reach it.
    holder.send(registerRecord("office", "PC01"));
    expectAnswer(holder.receive(1000), REGISTERED, "office");
    client.send(queryRecord("office"));
    expectAnswer(client.receive(1000), PEER_ADDRESS, "office");
    expectAnswer(holder.receive(1000), PEER_ADDRESS, "office");
    EXPECT_FALSE(rival.receive(300).has_value());
}

TEST(CentralService, ALapsedNameIsForgottenAndFreeAgain) {
    CentralProcess central({"--repeat-delay", "0", "--expiry", "1"});
    Peer holder("127.1.0.1", 1194), other("127.1.0.2", 1194), client("127.2.0.1", 1194);
    holder.send(registerRecord("office", "PC01"));
    expectAnswer(holder.receive(1000), REGISTERED, "office");
    EXPECT_TRUE(central.waitForLog("expired name=office computer=PC01 at 127.1.0.1:1194", 3000));

    client.send(queryRecord("office"));
    EXPECT_FALSE(client.receive(1200).has_value()) << "a lapsed name is unknown";
    other.send(registerRecord("office", "PC02"));
    expectAnswer(other.receive(1000), REGISTERED, "office");
    client.send(queryRecord("office"));
    auto answer = client.receive(1000);
    expectAnswer(answer, PEER_ADDRESS, "office");
    EXPECT_EQ(peerField(*answer), (Bytes{0x02, 0x00, 0x01, 0x7f, 0xaa, 0x04})); // 127.1.0.2:1194
}

TEST(CentralService, AQueryTellsEachSideTheOthersPublicAddressAtOnce) {
    CentralProcess central(ONCE);
    Peer server("127.1.2.3", 40000), client("127.4.5.6", 1194);
    server.send(registerRecord("office", "PC01"));
    expectAnswer(server.receive(1000), REGISTERED, "office");

    auto sent = std::chrono::steady_clock::now();
    client.send(queryRecord("office"));
    auto toClient = client.receive(1000);
    auto toServer = server.receive(1000);
    expectAnswer(toClient, PEER_ADDRESS, "office");
    expectAnswer(toServer, PEER_ADDRESS, "office");
    // 127.1.2.3 as a little-endian host-order number, then port 40000 (40 9C).
    EXPECT_EQ(peerField(*toClient), (Bytes{0x03, 0x02, 0x01, 0x7f, 0x40, 0x9c}));
    // 127.4.5.6, port 1194 (AA 04).
    EXPECT_EQ(peerField(*toServer), (Bytes{0x06, 0x05, 0x04, 0x7f, 0xaa, 0x04}));
    EXPECT_LT(toClient->at - sent, std::chrono::milliseconds(500));
    EXPECT_LT(toServer->at - sent, std::chrono::milliseconds(500));
    EXPECT_TRUE(central.waitForLog("query answered name=office client=127.4.5.6:1194 server=127.1.2.3:40000"));
}

TEST(CentralService, AnUnknownNameGetsNoAnswer) {
    CentralProcess central;
    Peer client("127.2.0.1", 1194);
    client.send(queryRecord("nobody"));
    EXPECT_FALSE(client.receive(1500).has_value());
    EXPECT_TRUE(central.waitForLog("unknown name name=nobody from=127.2.0.1:1194"));
}

TEST(CentralService, MalformedDatagramsAreDroppedCountedAndHarmless) {
    CentralProcess central(ONCE);
    Peer sender("127.3.0.1", 1194);
    Bytes badMagic = registerRecord("office", "PC01");
    writeLittle32(badMagic, 4, 12346);
    Bytes unknownType = queryRecord("office");
    writeLittle32(unknownType, 0, 9);
    Bytes answerType = queryRecord("office");
    writeLittle32(answerType, 0, 5);
    Bytes shortRegister = registerRecord("office", "PC01");
    shortRegister.resize(36);
    Bytes longQuery = queryRecord("office");
    longQuery.resize(52);
    Bytes controlCharacter = registerRecord("off\nice", "PC01");
    Bytes unterminated = queryRecord(std::string(20, 'a'));
    Bytes badComputer = registerRecord("office", std::string(18, 'P'));
    Bytes oversized(120, 0);
    const std::vector<Bytes> junk = {Bytes{1, 0, 0, 0}, badMagic,     unknownType,
                                     answerType,         shortRegister, longQuery,
                                     controlCharacter,   unterminated, badComputer,
                                     oversized};
    for (const Bytes& datagram : junk) sender.send(datagram);
    EXPECT_FALSE(sender.receive(500).has_value());

    sender.send(registerRecord("office", "PC01"));
    expectAnswer(sender.receive(1000), REGISTERED, "office");
    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    for (const char* reason : {"too short", "bad magic", "unknown type", "not a request", "bad length",
                               "bad name", "bad computer name"})
        EXPECT_NE(log.find(std::string("datagram dropped: ") + reason), std::string::npos) << reason;
    EXPECT_NE(log.find("registered=1 "), std::string::npos);
    EXPECT_NE(log.find("malformed=10"), std::string::npos) << log;
}

TEST(CentralService, EveryAnswerIsSentAgainAfterTheRepeatDelay) {
    CentralProcess central; // default: 200 ms
    Peer server("127.1.0.1", 1194), client("127.2.0.1", 1194);
    server.send(registerRecord("office", "PC01"));
    auto registered = server.receiveAll(1000);
    ASSERT_EQ(registered.size(), 2u);
    EXPECT_EQ(registered[0].bytes, registered[1].bytes);
    expectAnswer(registered[1], REGISTERED, "office");
    auto gap = registered[1].at - registered[0].at;
    EXPECT_GE(gap, std::chrono::milliseconds(150));
    EXPECT_LE(gap, std::chrono::milliseconds(600));

    client.send(queryRecord("office"));
    auto toClient = client.receiveAll(1000);
    auto toServer = server.receiveAll(200);
    ASSERT_EQ(toClient.size(), 2u);
    ASSERT_EQ(toServer.size(), 2u);
    EXPECT_EQ(toClient[0].bytes, toClient[1].bytes);
    EXPECT_EQ(toServer[0].bytes, toServer[1].bytes);
    expectAnswer(toServer[1], PEER_ADDRESS, "office");
}

TEST(CentralService, WithoutRepeatsEachAnswerGoesOnce) {
    CentralProcess central(ONCE);
    Peer server("127.1.0.1", 1194);
    server.send(registerRecord("office", "PC01"));
    EXPECT_EQ(server.receiveAll(800).size(), 1u);
}

TEST(CentralService, ANameIsSentAPeerAddressAtMostOncePerIntervalAndOncePerRegistration) {
    CentralProcess central({"--repeat-delay", "0", "--peer-interval", "700"});
    Peer server("127.1.0.1", 1194), first("127.2.0.1", 1194), second("127.2.0.2", 1194);
    server.send(registerRecord("office", "PC01"));
    expectAnswer(server.receive(1000), REGISTERED, "office");

    first.send(queryRecord("office"));
    expectAnswer(first.receive(500), PEER_ADDRESS, "office");
    expectAnswer(server.receive(500), PEER_ADDRESS, "office");
    server.send(registerRecord("office", "PC01")); // registered again, within the interval
    expectAnswer(server.receive(500), REGISTERED, "office");
    second.send(queryRecord("office"));
    EXPECT_FALSE(second.receive(300).has_value());
    EXPECT_TRUE(server.receiveAll(100).empty()) << "the server sprays probes at every address it is told";
    EXPECT_TRUE(central.waitForLog("query dropped: name rate limited name=office from=127.2.0.2:1194"));

    // Well past the interval since the first peer address, however slow this machine.
    sleepMs(700);
    second.send(queryRecord("office"));
    expectAnswer(second.receive(1000), PEER_ADDRESS, "office");
    expectAnswer(server.receive(1000), PEER_ADDRESS, "office");
    // Told once since its last registration: no more until it registers again.
    sleepMs(700);
    first.send(queryRecord("office"));
    EXPECT_TRUE(server.receiveAll(300).empty());
    EXPECT_FALSE(first.receive(1).has_value());
    EXPECT_TRUE(central.waitForLog("query dropped: server told already since its registration name=office "
                                   "from=127.2.0.1:1194"));
}

TEST(CentralService, OneSourceAddressMayAskOnlySoOftenPerSecond) {
    CentralProcess central({"--repeat-delay", "0", "--source-rate", "3"});
    Peer server("127.1.0.1", 1194), greedy("127.2.0.1", 1194), other("127.2.0.2", 1194);
    server.send(registerRecord("office", "PC01"));
    expectAnswer(server.receive(1000), REGISTERED, "office");
    for (int i = 0; i < 12; ++i) greedy.send(registerRecord("greedy", "PC09"));
    // The twelve fall into one or two one-second windows: three or six answered.
    size_t answered = greedy.receiveAll(500).size();
    EXPECT_GE(answered, 3u);
    EXPECT_LE(answered, 6u);
    other.send(queryRecord("office"));
    expectAnswer(other.receive(500), PEER_ADDRESS, "office");
    EXPECT_TRUE(central.waitForLog("datagram dropped: source rate limited (from 127.2.0.1:1194)"));
    EXPECT_EQ(central.stop(SIGINT), 0);
    EXPECT_NE(central.log().find("source_limited=" + std::to_string(12 - answered)), std::string::npos);
}

TEST(CentralService, TheTableCapHoldsAndLapsedNamesMakeRoom) {
    CentralProcess central({"--repeat-delay", "0", "--max-names", "2", "--expiry", "1"});
    Peer a("127.1.0.1", 1194), b("127.1.0.2", 1194), c("127.1.0.3", 1194);
    a.send(registerRecord("alpha", "PCA"));
    expectAnswer(a.receive(1000), REGISTERED, "alpha");
    b.send(registerRecord("bravo", "PCB"));
    expectAnswer(b.receive(1000), REGISTERED, "bravo");
    c.send(registerRecord("charlie", "PCC"));
    EXPECT_FALSE(c.receive(500).has_value());
    EXPECT_TRUE(central.waitForLog("table full, not registered name=charlie"));
    a.send(registerRecord("alpha", "PCA"));
    expectAnswer(a.receive(1000), REGISTERED, "alpha");

    sleepMs(1200);
    c.send(registerRecord("charlie", "PCC"));
    expectAnswer(c.receive(1000), REGISTERED, "charlie");
}

TEST(CentralService, EndsCleanlyOnSigintAndSigterm) {
    for (int signal : {SIGINT, SIGTERM}) {
        CentralProcess central;
        EXPECT_EQ(central.stop(signal), 0);
        EXPECT_NE(central.log().find(signal == SIGINT ? "stopping on SIGINT: counters"
                                                      : "stopping on SIGTERM: counters"),
                  std::string::npos);
    }
}

TEST(CentralService, AfterARestartTheNextRegistrationTakesTheNameAgain) {
    Peer server("127.1.0.1", 1194), client("127.2.0.1", 1194);
    {
        CentralProcess central(ONCE);
        server.send(registerRecord("office", "PC01"));
        expectAnswer(server.receive(1000), REGISTERED, "office");
        EXPECT_EQ(central.stop(SIGTERM), 0);
    }
    CentralProcess central(ONCE);
    client.send(queryRecord("office"));
    EXPECT_FALSE(client.receive(500).has_value()) << "names are not kept across a restart";
    // A waiting server registers again within about 33 s, and is found again.
    server.send(registerRecord("office", "PC01"));
    expectAnswer(server.receive(1000), REGISTERED, "office");
    client.send(queryRecord("office"));
    expectAnswer(client.receive(1000), PEER_ADDRESS, "office");
}

TEST(CentralService, ReceivesOnTheChosenAddressAndPort) {
    CentralProcess central({"--bind", "127.0.0.7", "--port", "4000", "--repeat-delay", "0"});
    Peer server("127.1.0.1", 1194);
    server.send(registerRecord("office", "PC01"), "127.0.0.1", 4000);
    EXPECT_FALSE(server.receive(300).has_value());
    server.send(registerRecord("office", "PC01"), "127.0.0.7", 4000);
    auto answer = server.receive(1000);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->from, "127.0.0.7:4000");

    std::string output;
    EXPECT_EQ(runCentral({"--bind", "127.0.0.7", "--port", "4000"}, output), 1);
    EXPECT_NE(output.find("cannot receive on 127.0.0.7:4000"), std::string::npos) << output;
}

// The IP header of central's answers, seen through a raw socket in the test's namespace:
// "don't fragment" and an identification of 0, which the kernel need not compute.
TEST(CentralService, AnswersGoWithoutFragmentsAndWithoutAnIpIdentification) {
    int raw = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_UDP);
    ASSERT_GE(raw, 0) << "a raw socket needs root";
    CentralProcess central(ONCE);
    Peer server("127.1.0.1", 1194), client("127.2.0.1", 1194);
    server.send(registerRecord("office", "PC01"));
    expectAnswer(server.receive(1000), REGISTERED, "office");
    client.send(queryRecord("office"));
    expectAnswer(client.receive(1000), PEER_ADDRESS, "office");
    expectAnswer(server.receive(1000), PEER_ADDRESS, "office");
    int answers = 0;
    uint8_t packet[256];
    ssize_t got;
    while ((got = recv(raw, packet, sizeof packet, 0)) > 0) {
        size_t header = (packet[0] & 15u) * 4u;
        if (size_t(got) < header + 8 || (packet[header] << 8 | packet[header + 1]) != 3478) continue;
        ++answers;
        EXPECT_TRUE(packet[6] & 0x40) << "no \"don't fragment\" on answer " << answers;
        EXPECT_EQ(packet[4] << 8 | packet[5], 0) << "IP identification of answer " << answers;
    }
    close(raw);
    EXPECT_EQ(answers, 3); // MSG_REGISTERED and both MSG_PEER_ADDRESS
}

TEST(CentralService, HelpExplainsEveryOptionAndBadOptionsAreRefused) {
    std::string output;
    EXPECT_EQ(runCentral({"--help"}, output), 0);
    for (const char* option : {"--bind", "--port", "--expiry", "--max-names", "--peer-interval",
                               "--source-rate", "--repeat-delay", "--relay-after", "--max-relays",
                               "--source-relays", "--relay-rate", "--relay-consent", "--relay-idle",
                               "--relay-lifetime", "--stats-interval", "--quiet", "--help"})
        EXPECT_NE(output.find(option), std::string::npos) << option;
    EXPECT_EQ(runCentral({"--colour"}, output), 2);
    EXPECT_NE(output.find("unknown option --colour"), std::string::npos);
    EXPECT_EQ(runCentral({"--port", "0"}, output), 2);
    EXPECT_EQ(runCentral({"--expiry", "12x"}, output), 2);
    EXPECT_EQ(runCentral({"--bind", "localhost"}, output), 2);
    EXPECT_EQ(runCentral({"--max-names"}, output), 2);
    EXPECT_EQ(runCentral({"--relay-after", "7001"}, output), 2); // later than the programs' punching lasts
    EXPECT_EQ(runCentral({"--relay-lifetime", "59"}, output), 2);
}

// An echo service on port 7 and a DNS server on 53, the sources of one spoofed
// datagram each: central registers nothing for the first and tells neither it nor
// the registered server anything about the second.
TEST(CentralService, NothingGoesToAPortBelow1024) {
    CentralProcess central(ONCE);
    Peer echo("127.3.0.1", 7), dns("127.3.0.2", 53), server("127.1.0.1", 1194), client("127.2.0.1", 1194);
    echo.send(registerRecord("echo", "PC01"));
    server.send(registerRecord("office", "PC01"));
    expectAnswer(server.receive(1000), REGISTERED, "office");
    dns.send(queryRecord("office"));
    client.send(queryRecord("echo"));
    EXPECT_FALSE(client.receive(300).has_value()) << "echo was not registered";
    EXPECT_TRUE(echo.receiveAll(300).empty());
    EXPECT_TRUE(dns.receiveAll(1).empty());
    EXPECT_TRUE(server.receiveAll(1).empty()) << "the server sprays probes at every address it is told";
    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    for (const char* line : {"datagram dropped: from a port below 1024 (52 bytes from 127.3.0.1:7)",
                             "datagram dropped: from a port below 1024 (36 bytes from 127.3.0.2:53)", " low_port=2 "})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

// 20,000 queries for unknown names from 2,000 addresses, a real registration in the
// middle: a few dozen lines, which own up to what they hold back, and the
// registration among them.
TEST(CentralService, AFloodOfUnknownNamesNeitherFloodsTheLogNorHidesARegistration) {
    CentralProcess central(ONCE);
    Peer server("127.1.0.1", 1194);
    for (int address = 0; address < 2000; ++address) {
        Peer asker("127.20." + std::to_string(address / 250) + "." + std::to_string(1 + address % 250), 1194);
        for (int i = 0; i < 10; ++i) asker.send(queryRecord("nobody" + std::to_string(i)));
        if (address == 1000) server.send(registerRecord("office", "PC01"));
    }
    expectAnswer(server.receive(2000), REGISTERED, "office");
    sleepMs(1200); // the second of the last held-back lines is over, and swept
    EXPECT_EQ(central.stop(SIGTERM), 0);
    std::string log = central.log();
    EXPECT_NE(log.find("registered name=office computer=PC01 from=127.1.0.1:1194"), std::string::npos) << log;
    EXPECT_NE(log.find(" more unknown name lines held back (at most 20 a second are written)"), std::string::npos);
    size_t lines = size_t(std::count(log.begin(), log.end(), '\n'));
    EXPECT_LT(lines, 200u) << log;
    EXPECT_NE(log.find(" unknown_name="), std::string::npos);
}

} // namespace

TEST(CentralService, AWaitingServerIsSentOneKeepaliveAfterItsRegistration) {
    CentralProcess central({"--repeat-delay", "0", "--keepalive", "1"});
    Peer server("127.1.0.1", 1194);
    server.send(registerRecord("office", "PC01"));
    expectAnswer(server.receive(1000), REGISTERED, "office");
    auto after = server.receiveAll(3000);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].bytes, Bytes(36, 0));
    EXPECT_EQ(after[0].from, "127.0.0.1:3478");
}
