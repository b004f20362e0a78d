// The client's build of the rendezvous record and primitives.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <cstring>
#include <unistd.h>

#include "control.h"
#include "rendezvous/message.h"
#include "support/net.h"
#include "udp/udp.h"

namespace {

struct ClientRendezvous : ::testing::Test {
    void SetUp() override
    {
        platform::resetRecords();
        memset(&outgoing, 0, sizeof outgoing);
        rendezvousSocket = udpOpen(PUNCH_PORT);
        ASSERT_NE(rendezvousSocket, -1);
        u_long nonBlocking = 1;
        ioctlsocket(rendezvousSocket, FIONBIO, &nonBlocking);
    }
    void TearDown() override
    {
        closesocket(rendezvousSocket);
        rendezvousSocket = -1;
    }
};

TEST_F(ClientRendezvous, QueryForOfficeIsExactlyThese36Bytes)
{
    addLocalAddress("1.2.3.4");
    Party central("1.2.3.4", CENTRAL_PORT);
    strcpy(outgoing.name, "office");
    EXPECT_TRUE(sendMessage(MSG_QUERY, 0x01020304, CENTRAL_PORT));
    std::vector<unsigned char> expected = {3, 0, 0, 0, 0x39, 0x30, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0x6F, 0x66, 0x66, 0x69, 0x63, 0x65};
    expected.resize(36, 0);
    EXPECT_EQ(central.receive(1000), expected);
}

TEST_F(ClientRendezvous, NoDestinationMeansNothingIsSent)
{
    Party anyone("127.0.0.1", 3478);
    EXPECT_FALSE(sendMessage(MSG_QUERY, 0, CENTRAL_PORT));
    EXPECT_FALSE(sendMessage(MSG_PUNCH, 0x7F000001, 0));
    EXPECT_TRUE(anyone.receive(200).empty());
    EXPECT_TRUE(platform::debugOutput().empty());
}

TEST_F(ClientRendezvous, LooksOnlyAfterOneSecondAndFindsPeerAddressBehindOtherTypes)
{
    addLocalAddress("1.2.3.4");
    Party central("1.2.3.4", CENTRAL_PORT);
    central.sendTo(messageBytes(MSG_REGISTERED), "127.0.0.1", PUNCH_PORT);
    central.sendTo(messageBytes(MSG_PEER_ADDRESS, RENDEZVOUS_MAGIC, 0x01020304, 40000),
                   "127.0.0.1", PUNCH_PORT);

    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(receiveMessage(MSG_PEER_ADDRESS));
    EXPECT_EQ(GetTickCount64() - start, 1000u);
    RendezvousMessage found = receivedMessage();
    EXPECT_EQ(found.peerIp, 0x01020304u);
    EXPECT_EQ(found.peerPort, 40000);
    EXPECT_EQ(senderIp, 0x01020304u);
    EXPECT_EQ(senderPort, CENTRAL_PORT);
    // The peer fields travel as 04 03 02 01 40 9C.
    const unsigned char wire[] = {4, 3, 2, 1, 0x40, 0x9C};
    EXPECT_EQ(memcmp(receiveBuffer + 8, wire, 6), 0);
}

TEST_F(ClientRendezvous, WrongMagicShortPeerAddressAndEmptyQueueAreNotFound)
{
    Party central("127.0.0.1", CENTRAL_PORT);
    central.sendTo(messageBytes(MSG_PEER_ADDRESS, 12346, 0x01020304, 40000), "127.0.0.1",
                   PUNCH_PORT);
    central.sendTo(messageBytes(MSG_PEER_ADDRESS, RENDEZVOUS_MAGIC, 0, 0, 13), "127.0.0.1",
                   PUNCH_PORT);
    central.sendTo(messageBytes(MSG_PEER_ADDRESS, RENDEZVOUS_MAGIC, 0, 0, 7), "127.0.0.1",
                   PUNCH_PORT);
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(receiveMessage(MSG_PEER_ADDRESS));
    EXPECT_EQ(GetTickCount64() - start, 1000u);
    // Everything was taken in and dropped: the sender is still recorded.
    EXPECT_EQ(senderIp, 0x7F000001u);
    EXPECT_EQ(senderPort, CENTRAL_PORT);
    EXPECT_FALSE(receiveMessage(0));
}

TEST(WaitSeconds, WaitsWholeSecondsAlsoWhereA32BitClockTurnsNegative)
{
    platform::resetRecords();
    ULONGLONG start = GetTickCount64();
    waitSeconds(0);
    EXPECT_EQ(GetTickCount64(), start);
    waitSeconds(1);
    EXPECT_EQ(GetTickCount64() - start, 1000u);

    // A server started 24.8 days ago: the wait crosses 2^31 ms and must still take a
    // second, neither ending at once nor hanging.
    platform::advanceClock((1ull << 31) - 500 - GetTickCount64());
    EXPECT_EXIT(
        {
            alarm(10);
            ULONGLONG before = GetTickCount64();
            waitSeconds(1);
            exit(GetTickCount64() - before >= 1000 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
