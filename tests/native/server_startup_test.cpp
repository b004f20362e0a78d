// The server's start-up and exit path.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <filesystem>
#include <fstream>

#include "control.h"
#include "rendezvous/discovery.h"
#include "server/control.h"
#include "server/register.h"
#include "server/startup.h"
#include "support/net.h"

namespace {

namespace fs = std::filesystem;

struct ServerStartup : ::testing::Test {
    ScopedWorkDir dir;
    std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
    void TearDown() override { setenv("PATH", savedPath.c_str(), 1); }
    void SetUp() override
    {
        platform::resetRecords();
        platform::setDosRoot(dir.path() + "/dos");
        platform::scriptSystem([](const std::string&) {
            std::ofstream("log") << "\nPinging central [1.2.3.4] with 32 bytes of data:\n";
            return 0;
        });
        setenv("COMPUTERNAME", "PC01", 1);
        centralIp = 0;
    }
    void install()
    {
        std::string licence = platform::nativePath("c:\\program files\\openvpn\\license.txt");
        fs::create_directories(fs::path(licence).parent_path());
        std::ofstream(licence) << "GPL\n";
        std::string openvpn = platform::nativePath("c:\\program files\\openvpn\\bin\\openvpn.exe");
        fs::create_directories(fs::path(openvpn).parent_path());
        std::ofstream(openvpn) << "stand-in\n";
    }
};

TEST_F(ServerStartup, WithoutOpenVpnOnlyTheComputerNameIsReadAndTheReminderShows)
{
    EXPECT_FALSE(startServer());
    EXPECT_STREQ(computerName, "PC01");
    ASSERT_EQ(platform::startedCommands().size(), 1u);
    EXPECT_EQ(platform::startedCommands()[0].commandLine, "remind.bat");
    EXPECT_EQ(platform::startedCommands()[0].show, SW_SHOW);
    EXPECT_TRUE(platform::systemCommands().empty()); // no discovery
}

TEST_F(ServerStartup, StartPutsOpenVpnOnThePathFirstStopsItAndFindsTheCentralServerOnce)
{
    install();
    std::string pathAtFirstCommand;
    platform::scriptWinExec([&](const std::string&) {
        if (pathAtFirstCommand.empty())
            pathAtFirstCommand = getenv("PATH");
        return 0;
    });
    EXPECT_TRUE(startServer());
    EXPECT_EQ(pathAtFirstCommand, "C:\\Program Files\\OpenVPN\\bin;" + savedPath);
    ASSERT_EQ(platform::startedCommands().size(), 1u);
    EXPECT_EQ(platform::startedCommands()[0].commandLine, "tskill openvpn");
    EXPECT_EQ(platform::startedCommands()[0].show, SW_HIDE);
    EXPECT_EQ(peerTunnelIp, 0x0A080002u);
    EXPECT_EQ(centralIp, 0x01020304u);
    EXPECT_EQ(platform::systemCommands().size(), 1u);
}

TEST_F(ServerStartup, ComputerNameIsCutTo15CharactersOrEmpty)
{
    install();
    setenv("COMPUTERNAME", "ABCDEFGHIJKLMNOPQRST", 1);
    startServer();
    EXPECT_STREQ(computerName, "ABCDEFGHIJKLMNO");
    unsetenv("COMPUTERNAME");
    startServer();
    EXPECT_STREQ(computerName, "");
}

TEST_F(ServerStartup, ExitPathAlwaysStopsOpenVpn)
{
    active = 0;
    stopServer();
    ASSERT_EQ(platform::startedCommands().size(), 1u);
    EXPECT_EQ(platform::startedCommands()[0].commandLine, "tskill openvpn");
}

} // namespace
