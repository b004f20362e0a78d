// The server's registration, request handling and punching against the real
// central service (started by the test at 1.2.3.4, with its repeated answers)
// and a client played at 5.6.7.8. Every repeated answer lands in the server's
// queue; these tests show where each copy goes.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <cstring>
#include <thread>

#include "control.h"
#include "rendezvous/discovery.h"
#include "rendezvous/message.h"
#include "server/punch.h"
#include "server/register.h"
#include "support/central_process.h"
#include "support/net.h"
#include "support/scripted.h"

namespace {

const char* CENTRAL = "1.2.3.4";
const char* CLIENT = "5.6.7.8";

std::vector<unsigned char> query(const char* name)
{
    std::vector<unsigned char> bytes = messageBytes(MSG_QUERY);
    memcpy(&bytes[14], name, strlen(name));
    return bytes;
}

// The client's side of a punch: it answers the first probe that reaches it.
std::thread answerFirstProbe(Party& client)
{
    return std::thread([&client] {
        uint32_t ip = 0;
        uint16_t port = 0;
        std::vector<unsigned char> got;
        while (!(got = client.receive(2000, &ip, &port)).empty() && got[0] != MSG_PUNCH) {
        }
        client.sendTo(messageBytes(MSG_PUNCH), dottedOf(ip), port);
    });
}

struct ServerWithCentral : ::testing::Test {
    std::unique_ptr<CentralProcess> central;
    void SetUp() override
    {
        platform::resetRecords();
        platform::useRealClock(); // central answers in its own time
        addLocalAddress(CENTRAL);
        addLocalAddress(CLIENT);
        central = std::make_unique<CentralProcess>(std::vector<std::string>{"--bind", CENTRAL});
        centralIp = ipOf(CENTRAL);
        strcpy(computerName, "PC01");
        centralSilent = false;
        requestKept = false;
        punchSocket = -1;
    }
    void TearDown() override
    {
        if (punchSocket != -1)
            closesocket(punchSocket);
        punchSocket = -1;
    }
    // The Connect sequence of the server's dialog.
    int connectOnce(const char* name)
    {
        if (openPunchSocket() == -1)
            return -2;
        drainMessages();
        return registerName(name);
    }
};

TEST_F(ServerWithCentral, RegistersAndTheRepeatedAnswerIsDroppedByTheRequestCheck)
{
    EXPECT_EQ(connectOnce("office"), 1);
    // The copy of MSG_REGISTERED is queued behind; the tick's request check
    // takes it and drops it.
    EXPECT_FALSE(requestArrived());
    EXPECT_EQ(receiveAnyMessage(), -1);
}

TEST_F(ServerWithCentral, RefusedNameCopyIsDrainedByTheNextConnect)
{
    // Another machine holds the name.
    Party holder(CLIENT, 41194);
    std::vector<unsigned char> record = messageBytes(MSG_REGISTER, RENDEZVOUS_MAGIC, 0, 0, 52);
    memcpy(&record[14], "office", 6);
    memcpy(&record[34], "PC02", 4);
    holder.sendTo(record, CENTRAL, CENTRAL_PORT);
    ASSERT_EQ(holder.receive(2000).at(0), MSG_REGISTERED);

    EXPECT_EQ(connectOnce("office"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // the copy arrives
    // The user picks another name: the stale refusal must not answer for it.
    EXPECT_EQ(connectOnce("branch"), 1);
}

TEST_F(ServerWithCentral, RequestIsFoundPunchedAndItsCopyDroppedWhilePunching)
{
    EXPECT_EQ(connectOnce("office"), 1);
    EXPECT_FALSE(requestArrived()); // drops the copy of MSG_REGISTERED

    Party client(CLIENT, 40000);
    client.sendTo(query("office"), CENTRAL, CENTRAL_PORT);
    std::vector<unsigned char> toClient = client.receive(2000);
    ASSERT_GE(toClient.size(), 14u);
    EXPECT_EQ(toClient[0], MSG_PEER_ADDRESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // both copies arrive

    ASSERT_TRUE(requestArrived());
    EXPECT_EQ(receivedMessage().peerIp, ipOf(CLIENT));
    EXPECT_EQ(receivedMessage().peerPort, 40000);
    // The client answers the server's first probe; the request's copy is queued in
    // front of that probe and is dropped on the way to it.
    std::thread clientSide = answerFirstProbe(client);
    EXPECT_EQ(punchToClient(), 0);
    clientSide.join();
    EXPECT_EQ(punchSocket, -1);

    // After the tunnel the server comes back and refreshes its own name.
    EXPECT_EQ(connectOnce("office"), 1);
    EXPECT_TRUE(central->waitForLog("refresh"));
}

TEST_F(ServerWithCentral, RequestThatComesWhileRegisteringIsKeptAndPunched)
{
    EXPECT_EQ(connectOnce("office"), 1);
    EXPECT_FALSE(requestArrived()); // drops the copy of MSG_REGISTERED

    // The server registers again, as it does every 33 s, and a client asks right
    // then: the request and its copy are queued ahead of central's answer.
    ASSERT_EQ(openPunchSocket(), 0);
    drainMessages();
    Party client(CLIENT, 40000);
    client.sendTo(query("office"), CENTRAL, CENTRAL_PORT);
    for (int copy = 0; copy < 2; ++copy)
        ASSERT_EQ(client.receive(2000).at(0), MSG_PEER_ADDRESS) << "copy " << copy;
    EXPECT_EQ(registerName("office"), 1);

    // The next request check has that client, and the punch reaches it.
    ASSERT_TRUE(requestArrived());
    EXPECT_EQ(clientRequest.peerIp, ipOf(CLIENT));
    EXPECT_EQ(clientRequest.peerPort, 40000);
    std::thread clientSide = answerFirstProbe(client);
    EXPECT_EQ(punchToClient(), 0);
    clientSide.join();
}

} // namespace
