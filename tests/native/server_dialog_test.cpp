// The server's control dialog and tunnel monitor, driven through the dialog model,
// against a central server played at 1.2.3.4 over many rounds, a client's public
// side at 5.6.7.8, and the client's tunnel end at 10.8.0.2 on lo.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <fstream>

#include "common/values.h"
#include "control.h"
#include "rendezvous/discovery.h"
#include "rendezvous/message.h"
#include "server/control.h"
#include "server/punch.h"
#include "server/register.h"
#include "shell/resource.h"
#include "support/net.h"
#include "support/scripted.h"
#include "udp/udp.h"

namespace {

const char* CENTRAL = "1.2.3.4";
const char* CLIENT = "5.6.7.8";
const std::string CONNECTED_TEXT = "CONNECTED\nSERVER:10.8.0.1  CLIENT:10.8.0.2";
const std::string RECOVERY_TEXT = "CONNECTED\nSERVER:10.8.0.1  ClIENT:10.8.0.2";

std::string fileContent(const std::string& path)
{
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

int started(const std::string& line)
{
    int n = 0;
    for (const auto& c : platform::startedCommands())
        n += c.commandLine == line && c.show == SW_HIDE;
    return n;
}

int shown(const std::string& text)
{
    int n = 0;
    for (const std::string& t : platform::itemHistory(STATUS_LINE))
        n += t == text;
    return n;
}

std::vector<unsigned char> probeWith(const std::string& text)
{
    std::vector<unsigned char> probe(50, 0);
    std::copy(text.begin(), text.end(), probe.begin());
    return probe;
}

struct ServerDialog : ::testing::Test {
    ScopedWorkDir dir;
    std::unique_ptr<LoopingCentral> central;
    std::unique_ptr<Party> clientTunnel;

    void SetUp() override
    {
        platform::resetRecords();
        heartbeat = active = requested = requestWait = missedBeats = connected = 0;
        probeSocket = punchSocket = -1;
        peerTunnelIp = ipOf(CLIENT_TUNNEL_ADDRESS);
        strcpy(computerName, "PC01");
        centralSilent = requestKept = false;
        addLocalAddress(CENTRAL);
        addLocalAddress(CLIENT);
        addLocalAddress(CLIENT_TUNNEL_ADDRESS);
        centralIp = ipOf(CENTRAL);
        platform::scriptSystem([](const std::string&) {
            std::ofstream("log") << "\nPinging central [1.2.3.4] with 32 bytes of data:\n";
            return 0;
        });
        central = std::make_unique<LoopingCentral>(CENTRAL);
        clientTunnel = std::make_unique<Party>(CLIENT_TUNNEL_ADDRESS, PROBE_PORT);
        platform::openDialog(controlDialogProc);
    }
    void TearDown() override
    {
        for (int* s : {&probeSocket, &punchSocket})
            if (*s != -1)
                closesocket(*s);
    }
    void connectAs(const std::string& name, const std::string& pass)
    {
        platform::typeText(NAME_FIELD, name);
        platform::typeText(PASSWORD_FIELD, pass);
        platform::press(CONNECT_BUTTON);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(platform::tick()) << "tick " << i;
    }
    // Registers, takes a request and punches through to a client that answers.
    void startTunnel(bool pressConnect = true)
    {
        if (pressConnect)
            connectAs("office", "secret");
        ASSERT_EQ(platform::itemText(STATUS_LINE), "WAIT FOR REQUEST");
        ProbeCollector client(CLIENT, {40000}, 40000, 36);
        central->requestFrom(ipOf(CLIENT), 40000);
        ticks(1);
        ASSERT_EQ(platform::itemText(STATUS_LINE), "START OPENVPN");
    }
    // OpenVPN brings the tunnel address up; the next tick opens the probe socket,
    // on which nothing can have arrived yet: a first missed tick.
    void tunnelUp()
    {
        addLocalAddress(SERVER_TUNNEL_ADDRESS);
        ticks(1);
        ASSERT_NE(probeSocket, -1);
        ASSERT_EQ(missedBeats, 1);
    }
    void clientProbes(const std::vector<std::string>& texts)
    {
        for (const std::string& text : texts)
            clientTunnel->sendTo(probeWith(text), SERVER_TUNNEL_ADDRESS, PROBE_PORT);
        ticks(1);
    }
};

TEST_F(ServerDialog, ConnectWithAnEmptyFieldChangesNothingNotEvenARunningTimer)
{
    connectAs("office", "");
    EXPECT_EQ(platform::itemHistory(STATUS_LINE), std::vector<std::string>{"IDLE"});
    EXPECT_FALSE(std::ifstream("unamepass").good());
    EXPECT_EQ(platform::timerPeriod(), 0u);

    central->answer = 0;
    connectAs("office", "secret"); // CENTRAL TIMEOUT runs the ten-second timer
    connectAs("", "secret");
    EXPECT_EQ(platform::timerPeriod(), 10000u);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "CENTRAL TIMEOUT");
}

TEST_F(ServerDialog, RegisteredServerWaitsAndConnectWhileWaitingChangesNothing)
{
    connectAs("office", "secret");
    EXPECT_EQ(platform::itemHistory(STATUS_LINE),
              (std::vector<std::string>{"IDLE", "REPORT TO CENTRAL", "WAIT FOR REQUEST"}));
    EXPECT_EQ(platform::timerPeriod(), 1000u);
    EXPECT_EQ(fileContent("unamepass"), "office secret\r\n");
    connectAs("other", "words");
    EXPECT_EQ(fileContent("unamepass"), "office secret\r\n");
    EXPECT_EQ(central->registrations(), 1);
}

TEST_F(ServerDialog, TheThirtySecondTickWithoutRequestRegistersAgain)
{
    connectAs("office", "secret");
    ticks(31);
    EXPECT_EQ(central->registrations(), 1);
    ticks(1);
    EXPECT_EQ(central->registrations(), 2);
    EXPECT_EQ(shown("WAIT FOR REQUEST"), 2);
    EXPECT_EQ(active, 1);
    EXPECT_EQ(requestWait, 0);
}

TEST_F(ServerDialog, SilentCentralIsRetriedEveryTenSeconds)
{
    central->answer = 0;
    connectAs("office", "secret");
    EXPECT_EQ(platform::itemText(STATUS_LINE), "CENTRAL TIMEOUT");
    EXPECT_EQ(platform::timerPeriod(), 10000u);
    central->answer = MSG_REGISTERED;
    ticks(1);
    EXPECT_EQ(platform::itemText(HEARTBEAT_FIELD), "0"); // the heartbeat moves on this timer too
    EXPECT_EQ(central->registrations(), 2);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "WAIT FOR REQUEST");
    EXPECT_EQ(platform::timerPeriod(), 1000u);
}

TEST_F(ServerDialog, CentralWhoseAddressMovedIsResolvedAgainAfterATimeout)
{
    // Start-up resolved the central host's name to an address it has left since.
    addLocalAddress("1.2.3.5");
    centralIp = ipOf("1.2.3.5");
    connectAs("office", "secret");
    EXPECT_EQ(platform::itemText(STATUS_LINE), "CENTRAL TIMEOUT");
    EXPECT_TRUE(platform::systemCommands().empty());
    ticks(1); // the retry resolves the name again, which now names central's address
    EXPECT_EQ(platform::systemCommands().size(), 1u);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "WAIT FOR REQUEST");
    ticks(32); // a registration that follows an answer needs no new lookup
    EXPECT_EQ(central->registrations(), 2);
    EXPECT_EQ(platform::systemCommands().size(), 1u);
}

TEST_F(ServerDialog, RefusedNameStopsButARunningTimerStillSendsOneMoreConnect)
{
    central->answer = MSG_NAME_TAKEN;
    connectAs("office", "secret");
    EXPECT_EQ(platform::itemText(STATUS_LINE), "NAME HAS BEEN USED");
    EXPECT_EQ(platform::timerPeriod(), 0u);
    EXPECT_EQ(active, 0);

    central->answer = 0;
    connectAs("office", "secret"); // CENTRAL TIMEOUT: timer at ten seconds
    central->answer = MSG_NAME_TAKEN;
    connectAs("office", "secret");
    EXPECT_EQ(platform::timerPeriod(), 10000u);
    ticks(1); // the timer fires once more: killed, and one more Connect
    EXPECT_EQ(central->registrations(), 4);
    EXPECT_EQ(platform::timerPeriod(), 0u);
}

TEST_F(ServerDialog, BusyPortIsRetriedEverySecond)
{
    int openVpn = udpOpen(PUNCH_PORT);
    connectAs("office", "secret");
    EXPECT_EQ(platform::itemText(STATUS_LINE), "FAIL TO OPEN PORT");
    EXPECT_EQ(platform::timerPeriod(), 1000u);
    ticks(1);
    EXPECT_EQ(shown("FAIL TO OPEN PORT"), 2);
    closesocket(openVpn);
    ticks(1);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "WAIT FOR REQUEST");
}

TEST_F(ServerDialog, FailedPunchRegistersAgain)
{
    connectAs("office", "secret");
    central->requestFrom(ipOf(CLIENT), 40000); // a client that never probes
    ticks(1);
    EXPECT_EQ(shown("REQUEST FROM CLIENT"), 1);
    EXPECT_EQ(central->registrations(), 2);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "WAIT FOR REQUEST");
    EXPECT_EQ(requested, 0);
    EXPECT_EQ(started("openvpn server.ovpn"), 0);
}

TEST_F(ServerDialog, AnsweredPunchStartsOpenVpnAndTheTunnelConnects)
{
    startTunnel();
    EXPECT_EQ(started("openvpn server.ovpn"), 1);
    EXPECT_EQ(punchSocket, -1);
    EXPECT_EQ(platform::timerPeriod(), 1000u);
    ticks(3); // no tunnel address yet: nothing counts
    EXPECT_EQ(missedBeats, 0);
    tunnelUp();
    clientProbes({"secret"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), RECOVERY_TEXT); // after the first miss
    clientProbes({"secret"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), CONNECTED_TEXT);
    std::vector<unsigned char> probe = clientTunnel->receive(1000);
    EXPECT_EQ(probe.size(), 50u); // the server's probe reached the client's end
}

TEST_F(ServerDialog, MissingBeatsBlankTheLineRecoverAndAtSevenBreakTheTunnel)
{
    startTunnel();
    tunnelUp();
    clientProbes({"secret"});
    clientProbes({"secret"});
    ASSERT_EQ(connected, 1);
    ticks(6);
    EXPECT_EQ(shown(""), 6);
    clientProbes({"secret"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), RECOVERY_TEXT);
    clientProbes({"secret"}); // no miss before it: nothing new to show
    EXPECT_EQ(shown(RECOVERY_TEXT), 2);
    EXPECT_EQ(shown(CONNECTED_TEXT), 1);
    ticks(7);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "CONNECTION BROKEN");
    EXPECT_EQ(started("tskill openvpn"), 1);
    EXPECT_EQ(active, 0);
    ticks(1); // about a second later the name is registered again
    EXPECT_EQ(central->registrations(), 2);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "WAIT FOR REQUEST");

    // The next tunnel finds the probe socket open: its first answer connects at once.
    startTunnel(false);
    clientProbes({"secret"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), CONNECTED_TEXT);
}

TEST_F(ServerDialog, ProbesLeftFromAnEarlierTunnelDoNotCountForTheNext)
{
    startTunnel();
    tunnelUp();
    clientProbes({"secret"});
    clientProbes({"secret"});
    ASSERT_EQ(connected, 1);
    clientProbes({"wrong"});
    ASSERT_EQ(platform::itemText(STATUS_LINE), "WRONG PASSWORD");
    // The old tunnel's last probe arrives after the server ended it.
    clientTunnel->sendTo(probeWith("secret"), SERVER_TUNNEL_ADDRESS, PROBE_PORT);
    ticks(1);
    ASSERT_EQ(platform::itemText(STATUS_LINE), "WAIT FOR REQUEST");
    startTunnel(false);
    ticks(1); // the new tunnel is not up yet: nothing came through it
    EXPECT_EQ(platform::itemText(STATUS_LINE), "START OPENVPN");
    EXPECT_EQ(shown(CONNECTED_TEXT), 1);
}

TEST_F(ServerDialog, UnconfirmedTunnelShowsTheRecoveryTextThenTheConnectedText)
{
    startTunnel();
    tunnelUp();
    ticks(1);
    clientProbes({"secret"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), RECOVERY_TEXT);
    EXPECT_EQ(connected, 0);
    clientProbes({"secret"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), CONNECTED_TEXT);
}

TEST_F(ServerDialog, NeverAnsweringTunnelTimesOutOnTheThirtiethSilentTick)
{
    startTunnel();
    tunnelUp();
    ticks(28);
    clientProbes({"secret"}); // one answer starts the count again
    ticks(29);
    EXPECT_EQ(platform::itemText(STATUS_LINE), RECOVERY_TEXT);
    ticks(1);
    EXPECT_EQ(platform::itemText(STATUS_LINE), "TIME OUT");
    EXPECT_EQ(started("tskill openvpn"), 1);
}

TEST_F(ServerDialog, PasswordCheckOnEveryProbe)
{
    startTunnel();
    tunnelUp();
    clientProbes({"secretly longer"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), RECOVERY_TEXT);
    clientProbes({"secret", "secreT", "secret"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), "WRONG PASSWORD");
    EXPECT_EQ(started("tskill openvpn"), 1);
    EXPECT_EQ(active, 0);
}

TEST_F(ServerDialog, ShorterProbeFailsThePasswordCheck)
{
    startTunnel();
    tunnelUp();
    clientProbes({"secre"});
    EXPECT_EQ(platform::itemText(STATUS_LINE), "WRONG PASSWORD");
}

TEST_F(ServerDialog, DisconnectInAnyStateStopsOpenVpnAndShowsIdle)
{
    platform::press(DISCONNECT_BUTTON);
    EXPECT_EQ(started("tskill openvpn"), 1);
    EXPECT_EQ(platform::itemHistory(STATUS_LINE), (std::vector<std::string>{"IDLE", "IDLE"}));
    connectAs("office", "secret");
    platform::press(DISCONNECT_BUTTON);
    EXPECT_EQ(platform::timerPeriod(), 0u);
    EXPECT_EQ(active, 0);
    EXPECT_NE(punchSocket, -1); // sockets stay open
}

} // namespace
