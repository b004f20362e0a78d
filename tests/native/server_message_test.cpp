// The server's build of the rendezvous record and primitives.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <cstring>

#include "control.h"
#include "rendezvous/message.h"
#include "support/net.h"
#include "udp/udp.h"

namespace {

struct ServerRendezvous : ::testing::Test {
    Party central{"127.0.0.1", CENTRAL_PORT};
    void SetUp() override
    {
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
    void queue(const std::vector<unsigned char>& bytes)
    {
        central.sendTo(bytes, "127.0.0.1", PUNCH_PORT);
    }
};

TEST_F(ServerRendezvous, RegisterForOfficeFromPC01IsExactlyThese52Bytes)
{
    strcpy(outgoing.name, "office");
    strcpy(outgoing.computerName, "PC01");
    EXPECT_TRUE(sendMessage(MSG_REGISTER, 0x7F000001, CENTRAL_PORT));
    std::vector<unsigned char> expected = {1, 0, 0, 0, 0x39, 0x30, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0x6F, 0x66, 0x66, 0x69, 0x63, 0x65};
    expected.resize(34, 0);
    expected.insert(expected.end(), {0x50, 0x43, 0x30, 0x31});
    expected.resize(52, 0);
    EXPECT_EQ(central.receive(1000), expected);
}

TEST_F(ServerRendezvous, LooksAtOnceAndWalksTheQueueByType)
{
    queue(messageBytes(MSG_PUNCH, RENDEZVOUS_MAGIC, 0, 0, 52));
    queue(messageBytes(MSG_PUNCH, RENDEZVOUS_MAGIC, 0, 0, 52));
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(receiveMessage(MSG_PEER_ADDRESS)); // drops both
    EXPECT_EQ(GetTickCount64(), start);
    EXPECT_EQ(receiveAnyMessage(), -1);

    queue(messageBytes(MSG_PUNCH, RENDEZVOUS_MAGIC, 0, 0, 52));
    queue(messageBytes(MSG_PUNCH, RENDEZVOUS_MAGIC, 0, 0, 52));
    EXPECT_TRUE(receiveMessage(MSG_PUNCH));
    EXPECT_EQ(receiveAnyMessage(), MSG_PUNCH); // the second stayed queued
    EXPECT_EQ(receiveAnyMessage(), -1);
}

TEST_F(ServerRendezvous, AnyMessageSkipsDatagramsWithoutMagicOrTooShort)
{
    queue(messageBytes(MSG_REGISTERED, 0));
    queue({2, 0, 0, 0, 0x39, 0x30, 0}); // 7 bytes: not a message
    queue(messageBytes(MSG_NAME_TAKEN));
    EXPECT_EQ(receiveAnyMessage(), MSG_NAME_TAKEN);
    EXPECT_EQ(receiveAnyMessage(), -1);
}

TEST_F(ServerRendezvous, DrainDiscardsEverythingAndRecordsTheLastSender)
{
    Party other("127.0.0.1", 4000);
    queue(messageBytes(MSG_REGISTERED));
    other.sendTo(messageBytes(MSG_PEER_ADDRESS, RENDEZVOUS_MAGIC, 1, 2), "127.0.0.1", PUNCH_PORT);
    drainMessages();
    EXPECT_EQ(senderPort, 4000);
    EXPECT_EQ(receiveAnyMessage(), -1);
    EXPECT_FALSE(receiveMessage(0));
}

} // namespace
