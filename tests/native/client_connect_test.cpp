// The client's connect sequence against a scripted central server and a scripted
// server peer, on real sockets: central at 1.2.3.4, the server's public side at
// 5.6.7.8, both on lo of the test's own namespace.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <fstream>
#include <sys/stat.h>

#include "client/cc.h"
#include "control.h"
#include "rendezvous/message.h"
#include "support/net.h"
#include "support/scripted.h"
#include "udp/udp.h"

namespace {

const char* CENTRAL = "1.2.3.4";
const char* SERVER = "5.6.7.8";

std::vector<unsigned char> peerAddress(uint32_t ip, uint16_t port)
{
    return messageBytes(MSG_PEER_ADDRESS, RENDEZVOUS_MAGIC, ip, port);
}

std::vector<std::string> linesOf(const std::string& path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

bool portIsFree()
{
    int fd = udpOpen(PUNCH_PORT);
    if (fd == -1)
        return false;
    closesocket(fd);
    return true;
}

struct ConnectSequence : ::testing::Test {
    ScopedWorkDir dir;
    void SetUp() override
    {
        platform::resetRecords();
        addLocalAddress(CENTRAL);
        addLocalAddress(SERVER);
        platform::scriptSystem([](const std::string&) {
            std::ofstream("log") << "\nPinging central [1.2.3.4] with 32 bytes of data:\n";
            return 0;
        });
    }
};

TEST_F(ConnectSequence, SilentCentralGivesUpAfterOneSecondWithoutProbing)
{
    ScriptedCentral central(CENTRAL, {});
    ProbeCollector server(SERVER, {40000});
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(connectToServer("office"), -1);
    EXPECT_EQ(GetTickCount64() - start, 1000u);
    std::vector<unsigned char> expected = messageBytes(MSG_QUERY);
    memcpy(&expected[14], "office", 6);
    EXPECT_EQ(central.request(), expected);
    EXPECT_TRUE(server.arrivals().empty());
    EXPECT_EQ(mysock, -1);
    EXPECT_TRUE(portIsFree());
    EXPECT_TRUE(platform::startedCommands().empty());
}

TEST_F(ConnectSequence, ReplyOfWrongTypeOrMagicIsNoPeerAddress)
{
    for (auto reply : {messageBytes(MSG_REGISTERED, RENDEZVOUS_MAGIC, ipOf(SERVER), 40000),
                       messageBytes(MSG_PEER_ADDRESS, 12346, ipOf(SERVER), 40000)}) {
        ScriptedCentral central(CENTRAL, reply);
        ProbeCollector server(SERVER, {40000});
        EXPECT_EQ(connectToServer("office"), -1);
        EXPECT_TRUE(server.arrivals().empty());
        EXPECT_TRUE(portIsFree());
    }
}

TEST_F(ConnectSequence, BurstsGoToThePortAndItsNeighboursInOrderUntilSevenAreSilent)
{
    ScriptedCentral central(CENTRAL, peerAddress(ipOf(SERVER), 40000));
    ProbeCollector server(SERVER, {39998, 39999, 40000, 40001, 40002});
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(connectToServer("office"), -1);
    EXPECT_EQ(GetTickCount64() - start, 8000u); // one second for the address, one per burst

    std::vector<Arrival> arrivals = server.arrivals();
    ASSERT_EQ(arrivals.size(), 1u + 7 * 5);
    EXPECT_EQ(arrivals[0].port, 40000);
    for (size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_EQ(arrivals[i].port, 39998 + (i - 1) % 5) << "probe " << i;
    for (const Arrival& a : arrivals) {
        ASSERT_EQ(a.bytes.size(), 36u);
        EXPECT_EQ(a.bytes[0], MSG_PUNCH);
        EXPECT_EQ(a.srcPort, PUNCH_PORT);
    }
    EXPECT_TRUE(portIsFree());
    EXPECT_TRUE(platform::startedCommands().empty());
}

TEST_F(ConnectSequence, NeighbourPortsWrapAndPortZeroIsSkipped)
{
    ScriptedCentral central(CENTRAL, peerAddress(ipOf(SERVER), 65535));
    ProbeCollector server(SERVER, {65533, 65534, 65535, 1});
    EXPECT_EQ(connectToServer("office"), -1);
    std::vector<Arrival> arrivals = server.arrivals();
    ASSERT_EQ(arrivals.size(), 1u + 7 * 4);
    const uint16_t burst[] = {65533, 65534, 65535, 1};
    for (size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_EQ(arrivals[i].port, burst[(i - 1) % 4]);
    EXPECT_TRUE(platform::debugOutput().empty()); // port 0 never reached udpSend
}

TEST_F(ConnectSequence, AnswersTheProbesActualSourceAndStartsOpenVpnTowardsIt)
{
    ScriptedCentral central(CENTRAL, peerAddress(ipOf(SERVER), 40000));
    ProbeCollector server(SERVER, {40000}, 50123); // the server's NAT picked another port
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(connectToServer("office"), 0);
    EXPECT_EQ(GetTickCount64() - start, 2000u); // found at the end of the first burst

    std::vector<Arrival> arrivals = server.arrivals();
    int answers = 0;
    int probes = 0;
    for (const Arrival& a : arrivals) {
        answers += a.port == 50123;
        probes += a.port == 40000;
    }
    EXPECT_EQ(answers, 4);
    EXPECT_EQ(probes, 2); // the first probe and burst 1's; no second burst
    EXPECT_EQ(linesOf("op.bat"),
              (std::vector<std::string>{
                  "openvpn --config client.ovpn --remote 5.6.7.8 50123 < unamepass", "exit"}));
    std::ifstream bat("op.bat", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(bat)), {});
    EXPECT_EQ(content.back(), 't'); // no line break after "exit"
    ASSERT_EQ(platform::startedCommands().size(), 1u);
    EXPECT_EQ(platform::startedCommands()[0].commandLine, "op.bat");
    EXPECT_EQ(platform::startedCommands()[0].show, SW_HIDE);
    EXPECT_EQ(mysock, -1);
    EXPECT_TRUE(portIsFree());
}

TEST_F(ConnectSequence, OpBatThatCannotBeWrittenFailsWithoutStartingAnything)
{
    mkdir("op.bat", 0700);
    ScriptedCentral central(CENTRAL, peerAddress(ipOf(SERVER), 40000));
    ProbeCollector server(SERVER, {40000}, 50123);
    EXPECT_EQ(connectToServer("office"), -1);
    EXPECT_TRUE(platform::startedCommands().empty());
    EXPECT_TRUE(portIsFree());
}

TEST_F(ConnectSequence, HeldPortIsReportedAndNothingIsSent)
{
    int holder = udpOpen(PUNCH_PORT); // an OpenVPN still running
    ASSERT_NE(holder, -1);
    ScriptedCentral central(CENTRAL, {});
    EXPECT_EQ(connectToServer("office"), -1);
    EXPECT_TRUE(central.request().empty());
    std::vector<std::string> reports = platform::debugOutput();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Assertion failed: mysock != INVALID_SOCKET, file cc.cpp"),
              std::string::npos);
    closesocket(holder);
}

TEST_F(ConnectSequence, EachRunQueriesItsOwnNameAndRunsDiscoveryAgain)
{
    {
        ScriptedCentral central(CENTRAL, {});
        connectToServer("a-much-longer-name");
    }
    ScriptedCentral central(CENTRAL, {});
    connectToServer("short");
    ASSERT_EQ(central.request().size(), 36u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&central.request()[14]), "short");
    EXPECT_EQ(platform::systemCommands().size(), 2u);
}

TEST_F(ConnectSequence, NoCentralAddressMeansNoQueryAndFailure)
{
    platform::scriptSystem([](const std::string&) {
        std::ofstream("log") << "Ping request could not find host central.\n";
        return 0;
    });
    EXPECT_EQ(connectToServer("office"), -1);
    EXPECT_TRUE(platform::debugOutput().empty());
    EXPECT_TRUE(portIsFree());
}

} // namespace
