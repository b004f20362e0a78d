// The client's connect sequence against the real central service (started by the
// test at 1.2.3.4, with its repeated answers) and a server played at 5.6.7.8.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "client/cc.h"
#include "control.h"
#include "rendezvous/message.h"
#include "support/central_process.h"
#include "support/net.h"
#include "support/scripted.h"

namespace {

const char* CENTRAL = "1.2.3.4";
const char* SERVER = "5.6.7.8";

std::vector<unsigned char> registration(const char* name, const char* computer)
{
    std::vector<unsigned char> bytes = messageBytes(MSG_REGISTER, RENDEZVOUS_MAGIC, 0, 0, 52);
    memcpy(&bytes[14], name, strlen(name));
    memcpy(&bytes[34], computer, strlen(computer));
    return bytes;
}

struct ClientWithCentral : ::testing::Test {
    ScopedWorkDir dir;
    std::unique_ptr<CentralProcess> central;
    void SetUp() override
    {
        platform::resetRecords();
        platform::useRealClock(); // central answers in its own time
        addLocalAddress(CENTRAL);
        addLocalAddress(SERVER);
        central = std::make_unique<CentralProcess>(std::vector<std::string>{"--bind", CENTRAL});
        platform::scriptSystem([](const std::string&) {
            std::ofstream("log") << "\nPinging central [1.2.3.4] with 32 bytes of data:\n";
            return 0;
        });
    }
};

TEST_F(ClientWithCentral, MeetsARegisteredServerAndStartsOpenVpnTowardsIt)
{
    Party server(SERVER, 41194); // the server's NAT mapping of its port 1194
    server.sendTo(registration("office", "PC01"), CENTRAL, CENTRAL_PORT);
    ASSERT_EQ(server.receive(2000).at(0), MSG_REGISTERED);

    // The server's side: wait for the client's address, then probe it once and
    // count the client's four answers.
    int answers = 0;
    std::thread serverSide([&] {
        std::vector<unsigned char> got;
        while (!(got = server.receive(3000)).empty() && got[0] != MSG_PEER_ADDRESS) {
        }
        if (got.size() < 14)
            return;
        uint32_t clientIp;
        uint16_t clientPort;
        memcpy(&clientIp, &got[8], 4);
        memcpy(&clientPort, &got[12], 2);
        server.sendTo(messageBytes(MSG_PUNCH, RENDEZVOUS_MAGIC, 0, 0, 52), dottedOf(clientIp),
                      clientPort);
        while (!(got = server.receive(2500)).empty())
            answers += got.size() == 36 && got[0] == MSG_PUNCH;
    });
    EXPECT_EQ(connectToServer("office"), 0);
    serverSide.join();
    EXPECT_EQ(peerIp, ipOf(SERVER));
    EXPECT_EQ(peerPort, 41194);
    EXPECT_GE(answers, 4); // four answers, and maybe probes of a burst
    std::ifstream bat("op.bat");
    std::string first;
    std::getline(bat, first);
    EXPECT_EQ(first, "openvpn --config client.ovpn --remote 5.6.7.8 41194 < unamepass");
    EXPECT_TRUE(central->waitForLog("query"));
}

TEST_F(ClientWithCentral, UnknownNameGetsNoAnswerAndTheConnectFails)
{
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(connectToServer("nobody"), -1);
    EXPECT_LT(GetTickCount64() - start, 2500u);
    EXPECT_TRUE(platform::startedCommands().empty());
}

} // namespace
