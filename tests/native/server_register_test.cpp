// The server's registration against a scripted central server at 1.2.3.4, on
// real sockets in the test's own namespace.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <cstring>

#include "control.h"
#include "rendezvous/discovery.h"
#include "rendezvous/message.h"
#include "server/punch.h"
#include "server/register.h"
#include "support/net.h"
#include "support/scripted.h"
#include "udp/udp.h"

namespace {

const char* CENTRAL = "1.2.3.4";

struct Registration : ::testing::Test {
    void SetUp() override
    {
        platform::resetRecords();
        addLocalAddress(CENTRAL);
        centralIp = ipOf(CENTRAL);
        strcpy(computerName, "PC01");
        centralSilent = false;
        requestKept = false;
        ASSERT_EQ(openPunchSocket(), 0);
    }
    void TearDown() override
    {
        closesocket(punchSocket);
        punchSocket = -1;
    }
    // Runs registerName and tells how long it took.
    static int timedRegister(const char* name, ULONGLONG& tookMs)
    {
        ULONGLONG start = GetTickCount64();
        int result = registerName(name);
        tookMs = GetTickCount64() - start;
        return result;
    }
};

TEST_F(Registration, AnswerAtTheFirstLookEndsAfterOneSecond)
{
    ULONGLONG took = 0;
    {
        ScriptedCentral central(CENTRAL, messageBytes(MSG_REGISTERED));
        EXPECT_EQ(timedRegister("office", took), 1);
        ASSERT_EQ(central.request().size(), 52u);
        EXPECT_EQ(central.request()[0], MSG_REGISTER);
        EXPECT_STREQ(reinterpret_cast<const char*>(&central.request()[14]), "office");
        EXPECT_STREQ(reinterpret_cast<const char*>(&central.request()[34]), "PC01");
    }
    EXPECT_EQ(took, 1000u);

    ScriptedCentral refusing(CENTRAL, messageBytes(MSG_NAME_TAKEN));
    EXPECT_EQ(timedRegister("office", took), 0);
    EXPECT_EQ(took, 1000u);
}

TEST_F(Registration, LateAnswerIsHeardAtTheSecondLookButNotAfterTwoSeconds)
{
    ULONGLONG took = 0;
    {
        ScriptedCentral central(CENTRAL, messageBytes(MSG_REGISTERED), 1500);
        EXPECT_EQ(timedRegister("office", took), 1);
        EXPECT_EQ(took, 2000u);
    }
    ScriptedCentral tooLate(CENTRAL, messageBytes(MSG_REGISTERED), 2500);
    EXPECT_EQ(timedRegister("office", took), -1);
    EXPECT_EQ(took, 2000u);
}

TEST_F(Registration, OtherMessageAtTheFirstLookIsConsumedAndRegisterGoesOutOnce)
{
    Party stray("127.0.0.1", 4000);
    stray.sendTo(messageBytes(MSG_PUNCH, RENDEZVOUS_MAGIC, 0, 0, 52), "127.0.0.1", PUNCH_PORT);
    ScriptedCentral central(CENTRAL, {});
    ULONGLONG took = 0;
    EXPECT_EQ(timedRegister("office", took), -1);
    EXPECT_EQ(took, 2000u);
    EXPECT_EQ(central.request()[0], MSG_REGISTER);
    EXPECT_EQ(central.later(), 0);
}

TEST_F(Registration, ClientRequestAheadOfTheAnswerIsKeptUntilTheNextRegistration)
{
    Party centralSide(CENTRAL, 9999);
    centralSide.sendTo(messageBytes(MSG_PEER_ADDRESS, RENDEZVOUS_MAGIC, ipOf("5.6.7.8"), 40000),
                       "127.0.0.1", PUNCH_PORT);
    ULONGLONG took = 0;
    {
        ScriptedCentral central(CENTRAL, messageBytes(MSG_REGISTERED));
        EXPECT_EQ(timedRegister("office", took), 1);
    }
    EXPECT_EQ(took, 1000u); // the answer behind the request counts at the first look
    EXPECT_TRUE(requestKept);
    EXPECT_EQ(clientRequest.peerIp, ipOf("5.6.7.8"));
    EXPECT_EQ(clientRequest.peerPort, 40000);

    ScriptedCentral central(CENTRAL, messageBytes(MSG_REGISTERED));
    EXPECT_EQ(registerName("office"), 1);
    EXPECT_FALSE(requestKept); // that client has long given up
}

TEST_F(Registration, OpenSocketIsKeptAndQueuedDatagramsAreDrainedBeforeRegistering)
{
    int before = punchSocket;
    EXPECT_EQ(openPunchSocket(), 0);
    EXPECT_EQ(punchSocket, before);

    // A stale MSG_REGISTERED from an earlier round must not count for this one.
    Party old("1.2.3.4", 9999);
    old.sendTo(messageBytes(MSG_REGISTERED), "127.0.0.1", PUNCH_PORT);
    drainMessages();
    ScriptedCentral central(CENTRAL, messageBytes(MSG_NAME_TAKEN));
    EXPECT_EQ(registerName("office"), 0);
}

TEST_F(Registration, HeldPortCannotBeOpened)
{
    closesocket(punchSocket);
    punchSocket = -1;
    int openVpn = udpOpen(PUNCH_PORT);
    EXPECT_EQ(openPunchSocket(), -1);
    EXPECT_EQ(punchSocket, -1);
    closesocket(openVpn);
    EXPECT_EQ(openPunchSocket(), 0);
}

TEST_F(Registration, RecordCarriesEmptyComputerNameAndTailsOfLongerNames)
{
    computerName[0] = 0;
    {
        ScriptedCentral central(CENTRAL, messageBytes(MSG_REGISTERED));
        registerName("eighteen-char-name");
        EXPECT_EQ(central.request()[34], 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&central.request()[14])),
                  "eighteen-char-name");
    }
    ScriptedCentral central(CENTRAL, messageBytes(MSG_REGISTERED));
    registerName("office");
    EXPECT_STREQ(reinterpret_cast<const char*>(&central.request()[14]), "office");
    EXPECT_EQ(central.request()[14 + 7], 'n'); // the longer name's tail behind the zero
}

TEST_F(Registration, NoCentralAddressSendsNothingAndTimesOut)
{
    centralIp = 0;
    ULONGLONG took = 0;
    EXPECT_EQ(timedRegister("office", took), -1);
    EXPECT_TRUE(platform::debugOutput().empty());
}

} // namespace
