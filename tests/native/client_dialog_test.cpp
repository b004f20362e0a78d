// The client's control dialog and tunnel monitor, driven through the dialog model.
// Connect runs the real connect sequence against scripted parties; the tunnel is
// played on lo with the two tunnel addresses of the test's own namespace.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <fstream>
#include <sys/stat.h>

#include "client/control.h"
#include "common/values.h"
#include "control.h"
#include "rendezvous/message.h"
#include "shell/resource.h"
#include "support/net.h"
#include "support/scripted.h"

namespace {

const char* CENTRAL = "1.2.3.4";
const char* SERVER = "5.6.7.8";
const std::string CONNECTED_TEXT = "CONNECTED\nSERVER:10.8.0.1  CLIENT:10.8.0.2";

std::string fileContent(const std::string& path)
{
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

int countOf(const std::vector<platform::StartedCommand>& commands, const std::string& line)
{
    int n = 0;
    for (const auto& c : commands)
        n += c.commandLine == line && c.show == SW_HIDE;
    return n;
}

struct ClientDialog : ::testing::Test {
    ScopedWorkDir dir;
    std::unique_ptr<Party> serverTunnel;

    void SetUp() override
    {
        platform::resetRecords();
        active = connected = missedBeats = answeredBeats = explorerOpened = heartbeat = 0;
        probeSocket = -1;
        peerTunnelIp = ipOf(SERVER_TUNNEL_ADDRESS);
        addLocalAddress(CENTRAL);
        addLocalAddress(SERVER);
        addLocalAddress(SERVER_TUNNEL_ADDRESS);
        serverTunnel = std::make_unique<Party>(SERVER_TUNNEL_ADDRESS, PROBE_PORT);
        platform::scriptSystem([](const std::string& command) {
            if (command.rfind("ping", 0) == 0)
                std::ofstream("log") << "\nPinging central [1.2.3.4] with 32 bytes of data:\n";
            return 0;
        });
        platform::openDialog(controlDialogProc);
    }
    void TearDown() override
    {
        if (probeSocket != -1)
            closesocket(probeSocket);
    }

    // Types the fields and presses Connect; the scripted server answers the punch
    // when `serverAnswers`.
    void connectWith(const std::string& name, const std::string& pass, bool serverAnswers = true)
    {
        platform::typeText(NAME_FIELD, name);
        platform::typeText(PASSWORD_FIELD, pass);
        ScriptedCentral central(CENTRAL, messageBytes(MSG_PEER_ADDRESS, RENDEZVOUS_MAGIC,
                                                      ipOf(SERVER), 40000));
        ProbeCollector server(SERVER, {40000}, serverAnswers ? 40000 : 0, 52);
        platform::press(CONNECT_BUTTON);
    }
    void tunnelUp() { addLocalAddress(CLIENT_TUNNEL_ADDRESS); }
    void answeredTick(int serverProbes = 1)
    {
        for (int i = 0; i < serverProbes; ++i)
            serverTunnel->sendTo(std::vector<unsigned char>(50, 0), CLIENT_TUNNEL_ADDRESS,
                                 PROBE_PORT);
        ASSERT_TRUE(platform::tick());
    }
    void silentTicks(int n)
    {
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(platform::tick()) << "tick " << i;
    }
    // Connect succeeds and the tunnel is up; the first tick opens the probe socket.
    void started()
    {
        connectWith("office", "secret");
        ASSERT_EQ(platform::itemText(STATUS_LINE), "START OPENVPN");
        tunnelUp();
        silentTicks(1);
    }
};

TEST_F(ClientDialog, ConnectWithAnEmptyFieldChangesNothing)
{
    platform::typeText(NAME_FIELD, "office");
    platform::press(CONNECT_BUTTON);
    platform::typeText(NAME_FIELD, "");
    platform::typeText(PASSWORD_FIELD, "secret");
    platform::press(CONNECT_BUTTON);
    EXPECT_EQ(platform::itemHistory(STATUS_LINE), std::vector<std::string>{"IDLE"});
    EXPECT_TRUE(platform::systemCommands().empty());
    EXPECT_EQ(platform::timerPeriod(), 0u);
    std::ifstream file("unamepass");
    EXPECT_FALSE(file.good());
}

TEST_F(ClientDialog, FailedConnectShowsServerNotReadyAndStaysIdle)
{
    platform::typeText(NAME_FIELD, "office");
    platform::typeText(PASSWORD_FIELD, "secret");
    platform::press(CONNECT_BUTTON); // no central server answers
    EXPECT_EQ(platform::itemHistory(STATUS_LINE),
              (std::vector<std::string>{"IDLE", "CONNECTING", "SERVER NOT READY"}));
    EXPECT_EQ(fileContent("unamepass"), "office secret\r\n");
    EXPECT_EQ(active, 0);
    EXPECT_EQ(platform::timerPeriod(), 0u);
}

TEST_F(ClientDialog, UnwritableCredentialsFileStartsNothing)
{
    mkdir("unamepass", 0700);
    platform::typeText(NAME_FIELD, "office");
    platform::typeText(PASSWORD_FIELD, "secret");
    platform::press(CONNECT_BUTTON);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "SERVER NOT READY");
    EXPECT_TRUE(platform::systemCommands().empty()); // not even the discovery
    EXPECT_TRUE(platform::startedCommands().empty());
}

TEST_F(ClientDialog, LongFieldsAreCutTo18Characters)
{
    platform::typeText(NAME_FIELD, "abcdefghijklmnopqrstuvwxy");
    platform::typeText(PASSWORD_FIELD, "ABCDEFGHIJKLMNOPQRSTUVWXY");
    ScriptedCentral central(CENTRAL, {});
    platform::press(CONNECT_BUTTON);
    EXPECT_EQ(fileContent("unamepass"), "abcdefghijklmnopqr ABCDEFGHIJKLMNOPQR\r\n");
    ASSERT_EQ(central.request().size(), 36u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&central.request()[14]), "abcdefghijklmnopqr");
}

TEST_F(ClientDialog, ConnectWhileWorkingAndDisconnectWhileIdleChangeNothing)
{
    platform::press(DISCONNECT_BUTTON);
    EXPECT_EQ(platform::itemHistory(STATUS_LINE), std::vector<std::string>{"IDLE"});
    EXPECT_TRUE(platform::startedCommands().empty());

    started();
    platform::typeText(NAME_FIELD, "other");
    platform::press(CONNECT_BUTTON);
    EXPECT_EQ(fileContent("unamepass"), "office secret\r\n");
    EXPECT_EQ(platform::itemText(STATUS_LINE), "START OPENVPN");
    EXPECT_EQ(platform::systemCommands().size(), 1u); // one discovery only
}

TEST_F(ClientDialog, AnsweredTicksConnectAndOpenTheFoldersOnceOnTheTwelfth)
{
    started();
    EXPECT_EQ(platform::timerPeriod(), 1000u);
    EXPECT_EQ(countOf(platform::startedCommands(), "op.bat"), 1);

    // The client's probe carries the password and its zero at the very start.
    std::vector<unsigned char> probe = serverTunnel->receive(1000);
    ASSERT_EQ(probe.size(), 50u);
    EXPECT_STREQ(reinterpret_cast<const char*>(probe.data()), "secret");

    for (int i = 0; i < 11; ++i)
        answeredTick(i == 0 ? 3 : 1); // three probes at one tick count once
    EXPECT_EQ(platform::itemText(STATUS_LINE), CONNECTED_TEXT);
    silentTicks(1); // a miss starts the count again
    for (int i = 0; i < 11; ++i)
        answeredTick();
    EXPECT_EQ(platform::systemCommands().size(), 1u); // only the discovery so far
    answeredTick();
    EXPECT_EQ(platform::systemCommands().back(), "start explorer \\\\10.8.0.1");
    for (int i = 0; i < 15; ++i)
        answeredTick();
    EXPECT_EQ(platform::systemCommands().size(), 2u); // once per Connect
    // The CONNECTED text was shown once.
    int shown = 0;
    for (const std::string& text : platform::itemHistory(STATUS_LINE))
        shown += text == CONNECTED_TEXT;
    EXPECT_EQ(shown, 1);
}

TEST_F(ClientDialog, TenMissesOnceConnectedDisconnectAndStopOpenVpn)
{
    started();
    answeredTick();
    silentTicks(9);
    answeredTick(); // nine misses and back: still up
    EXPECT_EQ(platform::itemText(STATUS_LINE), CONNECTED_TEXT);
    silentTicks(9);
    EXPECT_EQ(active, 1);
    silentTicks(1);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "DISCONNECTED");
    EXPECT_EQ(countOf(platform::startedCommands(), "stop openvpn"), 1);
    EXPECT_EQ(countOf(platform::startedCommands(), "tskill openvpn"), 0);
    EXPECT_EQ(platform::timerPeriod(), 0u);
    EXPECT_EQ(active, 0);
    platform::press(DISCONNECT_BUTTON); // does nothing now
    EXPECT_EQ(platform::itemText(STATUS_LINE), "DISCONNECTED");
}

TEST_F(ClientDialog, TwentyMissesBeforeConnectedTimeOutAndTicksWithoutSocketDoNotCount)
{
    connectWith("office", "secret");
    silentTicks(25); // no tunnel address yet: only the heartbeat moves
    EXPECT_EQ(platform::itemText(STATUS_LINE), "START OPENVPN");
    EXPECT_EQ(probeSocket, -1);
    tunnelUp();
    silentTicks(19);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "START OPENVPN");
    silentTicks(1);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "TIMEOUT");
    EXPECT_EQ(countOf(platform::startedCommands(), "stop openvpn"), 1);
    EXPECT_FALSE(platform::tick()); // the timer is stopped
}

TEST_F(ClientDialog, SecondConnectDiscardsProbesLeftFromTheEarlierTunnel)
{
    started();
    platform::press(DISCONNECT_BUTTON);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "IDLE");
    EXPECT_EQ(countOf(platform::startedCommands(), "tskill openvpn"), 1);
    EXPECT_EQ(platform::timerPeriod(), 0u);
    for (int i = 0; i < 3; ++i)
        serverTunnel->sendTo(std::vector<unsigned char>(50, 0), CLIENT_TUNNEL_ADDRESS,
                             PROBE_PORT);
    connectWith("office", "secret");
    silentTicks(1); // the leftovers were drained at Connect: a missed tick
    EXPECT_EQ(missedBeats, 1);
    EXPECT_EQ(connected, 0);
}

TEST_F(ClientDialog, HeartbeatCountsModulo100AcrossConnects)
{
    started();
    for (int i = 1; i < 105; ++i)
        answeredTick();
    std::vector<std::string> beats = platform::itemHistory(HEARTBEAT_FIELD);
    ASSERT_EQ(beats.size(), 105u);
    for (size_t i = 0; i < beats.size(); ++i)
        EXPECT_EQ(beats[i], std::to_string(i % 100));
    platform::press(DISCONNECT_BUTTON);
    connectWith("office", "secret");
    silentTicks(1);
    EXPECT_EQ(platform::itemText(HEARTBEAT_FIELD), "5");
}

TEST_F(ClientDialog, CancelEndsTheDialogAndPostsQuitWhateverTheState)
{
    started();
    platform::press(IDCANCEL);
    EXPECT_TRUE(platform::dialogEnded());
    EXPECT_EQ(platform::dialogResult(), IDCANCEL);
    EXPECT_EQ(platform::quitCode(), 0);
    EXPECT_EQ(platform::lastResult(), TRUE);
    EXPECT_EQ(countOf(platform::startedCommands(), "tskill openvpn"), 0); // the exit path's job
}

} // namespace
