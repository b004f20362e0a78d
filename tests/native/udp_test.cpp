// The datagram endpoint on real sockets inside the test's own network namespace.
#include <gtest/gtest.h>

#include <winsock2.h>

#include "control.h"
#include "support/net.h"
#include "common/values.h"
#include "udp/udp.h"

namespace {

const uint16_t PORT = 1194;

struct Udp : ::testing::Test {
    int fd = -1;
    void SetUp() override
    {
        platform::resetRecords();
        fd = udpOpen(PORT);
        ASSERT_NE(fd, -1);
        u_long nonBlocking = 1;
        ASSERT_EQ(ioctlsocket(fd, FIONBIO, &nonBlocking), 0);
    }
    void TearDown() override { closesocket(fd); }
};

TEST_F(Udp, TakesDatagramsUpToCapacityMinusTwoAndTerminatesThem)
{
    Party peer("127.0.0.1", 5000);
    peer.sendTo(std::vector<unsigned char>(98, 'a'), "127.0.0.1", PORT);
    peer.sendTo(std::vector<unsigned char>(99, 'b'), "127.0.0.1", PORT);
    peer.sendTo(std::vector<unsigned char>(150, 'c'), "127.0.0.1", PORT);
    peer.sendTo({}, "127.0.0.1", PORT);
    peer.sendTo({'d'}, "127.0.0.1", PORT);

    char buffer[100];
    memset(buffer, 'x', sizeof buffer);
    uint32_t ip = 0;
    uint16_t port = 0;

    int size = 100;
    EXPECT_TRUE(udpReceive(fd, buffer, size, ip, port));
    EXPECT_EQ(size, 98);
    EXPECT_EQ(buffer[97], 'a');
    EXPECT_EQ(buffer[98], 0);
    EXPECT_EQ(ip, 0x7F000001u);
    EXPECT_EQ(port, 5000);

    // 99 bytes: consumed and described, but refused.
    ip = 0;
    port = 0;
    size = 100;
    EXPECT_FALSE(udpReceive(fd, buffer, size, ip, port));
    EXPECT_EQ(size, 99);
    EXPECT_EQ(ip, 0x7F000001u);
    EXPECT_EQ(port, 5000);

    // Longer than the buffer: the receive itself fails.
    size = 100;
    EXPECT_FALSE(udpReceive(fd, buffer, size, ip, port));
    EXPECT_EQ(size, -1);

    // Zero length counts as nothing.
    size = 100;
    EXPECT_FALSE(udpReceive(fd, buffer, size, ip, port));
    EXPECT_EQ(size, 0);

    // What is queued behind is still there.
    size = 100;
    EXPECT_TRUE(udpReceive(fd, buffer, size, ip, port));
    EXPECT_EQ(size, 1);
    EXPECT_STREQ(buffer, "d");
}

TEST_F(Udp, EmptyQueueGivesFalseAtOnceAndLeavesSenderUnchanged)
{
    char buffer[100];
    uint32_t ip = 0xDEADBEEF;
    uint16_t port = 4242;
    int size = 100;
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(udpReceive(fd, buffer, size, ip, port));
    EXPECT_EQ(GetTickCount64(), start);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(ip, 0xDEADBEEFu);
    EXPECT_EQ(port, 4242);
}

TEST_F(Udp, SenderAddressComesInHostOrder)
{
    addLocalAddress("192.168.1.20");
    Party peer("192.168.1.20", 40000);
    peer.sendTo({'h', 'i'}, "127.0.0.1", PORT);
    char buffer[100];
    uint32_t ip = 0;
    uint16_t port = 0;
    int size = 100;
    ASSERT_TRUE(udpReceive(fd, buffer, size, ip, port));
    EXPECT_EQ(ip, 0xC0A80114u);
    EXPECT_EQ(port, 40000);
}

TEST_F(Udp, SendsWholeDatagramToHostOrderDestination)
{
    addLocalAddress("1.2.3.4");
    Party central("1.2.3.4", 3478);
    std::vector<char> record(36, 7);
    EXPECT_TRUE(udpSend(fd, record.data(), 36, 0x01020304, 3478));
    uint16_t fromPort = 0;
    std::vector<unsigned char> got = central.receive(1000, nullptr, &fromPort);
    EXPECT_EQ(got.size(), 36u);
    EXPECT_EQ(fromPort, PORT);
}

TEST_F(Udp, PortsWrapModulo65536AndPortZeroIsRefusedWithAnAddress)
{
    Party low("127.0.0.1", 1);
    int computed = 65537;
    EXPECT_TRUE(udpSend(fd, "p", 1, 0x7F000001, static_cast<uint16_t>(computed)));
    EXPECT_EQ(low.receive(1000).size(), 1u);

    computed = 65536; // port 0: the connected form, which needs address 0
    EXPECT_FALSE(udpSend(fd, "p", 1, 0x7F000001, static_cast<uint16_t>(computed)));
    std::vector<std::string> reports = platform::debugOutput();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Assertion failed: dstIp == 0, file udp.cpp, line "),
              std::string::npos);

    EXPECT_FALSE(udpSend(fd, "", 0, 0x7F000001, 1)); // nothing to send is no success
}

TEST_F(Udp, ClosedSocketIsReportedAndNeverTouched)
{
    char buffer[100];
    uint32_t ip = 0;
    uint16_t port = 0;
    int size = 100;
    EXPECT_FALSE(udpReceive(-1, buffer, size, ip, port));
    EXPECT_FALSE(udpSend(-1, "x", 1, 0x7F000001, 1));
    size = 0;
    EXPECT_FALSE(udpReceive(fd, buffer, size, ip, port));
    std::vector<std::string> reports = platform::debugOutput();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_NE(reports[0].find("fd != INVALID_SOCKET"), std::string::npos);
    EXPECT_NE(reports[1].find("fd != INVALID_SOCKET"), std::string::npos);
    EXPECT_NE(reports[2].find("originalSize > 0"), std::string::npos);
}

TEST(UdpOpen, HeldPortAndMissingTunnelAddressGiveMinusOne)
{
    int first = udpOpen(PORT);
    ASSERT_NE(first, -1);
    EXPECT_EQ(udpOpen(PORT), -1);
    closesocket(first);
    int again = udpOpen(PORT); // the failed attempt left nothing bound
    EXPECT_NE(again, -1);
    closesocket(again);

    EXPECT_EQ(udpOpenTunnel(), -1);
    addLocalAddress(CLIENT_TUNNEL_ADDRESS);
    int tunnel = udpOpenTunnel();
    EXPECT_NE(tunnel, -1);
    Party server("127.0.0.1", 6000);
    server.sendTo({'p'}, CLIENT_TUNNEL_ADDRESS, PROBE_PORT);
    u_long nonBlocking = 1;
    ioctlsocket(tunnel, FIONBIO, &nonBlocking);
    char buffer[100];
    uint32_t ip = 0;
    uint16_t port = 0;
    int size = 100;
    EXPECT_TRUE(udpReceive(tunnel, buffer, size, ip, port));
    closesocket(tunnel);
}

TEST(UdpStartup, WinsockFailuresEndTheProcessWithCodeOne)
{
    platform::scriptWinsock(10091, MAKEWORD(2, 2));
    EXPECT_EXIT(udpStartup(), ::testing::ExitedWithCode(1),
                "Could not load winsock\nAssertion failed: 0, file udp.cpp");
    platform::scriptWinsock(0, MAKEWORD(1, 1));
    EXPECT_EXIT(udpStartup(), ::testing::ExitedWithCode(1),
                "Bad winsock verion\nAssertion failed: 0, file udp.cpp");
    platform::scriptWinsock(0, MAKEWORD(2, 2));
    udpStartup();
    EXPECT_EQ(platform::winsockCleanups(), 0);
}

} // namespace
