// The server's request handling and punching towards a client whose public side is
// played at 5.6.7.8, on real sockets in the test's own namespace.
#include <gtest/gtest.h>

#include <winsock2.h>

#include "control.h"
#include "rendezvous/message.h"
#include "server/punch.h"
#include "server/register.h"
#include "support/net.h"
#include "support/scripted.h"
#include "udp/udp.h"

namespace {

const char* CENTRAL = "1.2.3.4";
const char* CLIENT = "5.6.7.8";

struct Punching : ::testing::Test {
    std::unique_ptr<Party> central;
    void SetUp() override
    {
        platform::resetRecords();
        requestKept = false;
        addLocalAddress(CENTRAL);
        addLocalAddress(CLIENT);
        central = std::make_unique<Party>(CENTRAL, CENTRAL_PORT);
        ASSERT_EQ(openPunchSocket(), 0);
    }
    void TearDown() override
    {
        if (punchSocket != -1)
            closesocket(punchSocket);
        punchSocket = -1;
    }
    void requestFor(uint16_t clientPort)
    {
        central->sendTo(messageBytes(MSG_PEER_ADDRESS, RENDEZVOUS_MAGIC, ipOf(CLIENT), clientPort),
                        "127.0.0.1", PUNCH_PORT);
    }
};

TEST_F(Punching, RequestIsFoundBehindOtherMessagesAndWhatFollowsStaysQueued)
{
    EXPECT_FALSE(requestArrived());
    central->sendTo(messageBytes(MSG_REGISTERED), "127.0.0.1", PUNCH_PORT); // a late answer
    central->sendTo(messageBytes(MSG_PEER_ADDRESS, 1), "127.0.0.1", PUNCH_PORT);
    requestFor(40000);
    central->sendTo(messageBytes(MSG_NAME_TAKEN), "127.0.0.1", PUNCH_PORT);
    ASSERT_TRUE(requestArrived());
    EXPECT_EQ(receivedMessage().peerIp, ipOf(CLIENT));
    EXPECT_EQ(receivedMessage().peerPort, 40000);
    EXPECT_EQ(receiveAnyMessage(), MSG_NAME_TAKEN);
}

TEST_F(Punching, SevenSilentBurstsToThePortAndItsNeighboursKeepTheSocket)
{
    ProbeCollector client(CLIENT, {39998, 39999, 40000, 40001, 40002});
    requestFor(40000);
    ASSERT_TRUE(requestArrived());
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(punchToClient(), -1);
    EXPECT_EQ(GetTickCount64() - start, 7000u);
    std::vector<Arrival> arrivals = client.arrivals();
    ASSERT_EQ(arrivals.size(), 35u);
    for (size_t i = 0; i < arrivals.size(); ++i) {
        EXPECT_EQ(arrivals[i].port, 39998 + i % 5) << "probe " << i;
        EXPECT_EQ(arrivals[i].bytes.size(), 52u);
        EXPECT_EQ(arrivals[i].bytes[0], MSG_PUNCH);
    }
    EXPECT_NE(punchSocket, -1); // the next registration reuses it
}

TEST_F(Punching, QueuedClientProbeEndsTheFirstBurstAndIsAnsweredWhereItCameFrom)
{
    Party clientNat(CLIENT, 51000); // the client's NAT picked a port outside P-2..P+2
    clientNat.sendTo(messageBytes(MSG_PUNCH), "127.0.0.1", PUNCH_PORT);
    ProbeCollector client(CLIENT, {40000});
    // A probe ahead of the request is dropped by requestArrived; one queued behind
    // the request is found at the end of burst 1.
    requestFor(40000);
    ASSERT_TRUE(requestArrived());
    clientNat.sendTo(messageBytes(MSG_PUNCH), "127.0.0.1", PUNCH_PORT);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(punchToClient(), 0);
    EXPECT_EQ(GetTickCount64() - start, 1000u);
    EXPECT_EQ(client.arrivals().size(), 1u); // burst 1 only
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(clientNat.receive(1000).size(), 52u) << "answer " << i;
    EXPECT_TRUE(clientNat.receive(100).empty());
    EXPECT_EQ(punchSocket, -1);
    int openVpn = udpOpen(PUNCH_PORT); // the port is free for OpenVPN
    EXPECT_NE(openVpn, -1);
    closesocket(openVpn);
}

TEST_F(Punching, AnyStrayProbeEndsThePunchingAndPortZeroIsSkipped)
{
    ProbeCollector client(CLIENT, {65535, 1, 2, 3});
    Party stranger("127.0.0.1", 777);
    requestFor(1);
    ASSERT_TRUE(requestArrived());
    Later late(1500, [&] { stranger.sendTo(messageBytes(MSG_PUNCH), "127.0.0.1", PUNCH_PORT); });
    EXPECT_EQ(punchToClient(), 0);
    std::vector<Arrival> arrivals = client.arrivals();
    ASSERT_EQ(arrivals.size(), 8u); // two bursts of four: port 0 is skipped
    const uint16_t burst[] = {65535, 1, 2, 3};
    for (size_t i = 0; i < arrivals.size(); ++i)
        EXPECT_EQ(arrivals[i].port, burst[i % 4]);
    int answers = 0;
    while (!stranger.receive(200).empty())
        ++answers;
    EXPECT_EQ(answers, 4);
    EXPECT_TRUE(platform::debugOutput().empty());
}

} // namespace
