// The client's start-up, exit path and hosts entry, with the DOS paths of the
// program mapped under the test's own directory.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "client/control.h"
#include "client/hosts.h"
#include "client/startup.h"
#include "control.h"
#include "support/net.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path)
{
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

struct ClientStartup : ::testing::Test {
    ScopedWorkDir dir;
    std::string hostsPath;

    void SetUp() override
    {
        platform::resetRecords();
        platform::setDosRoot(dir.path() + "/dos");
        hostsPath = platform::nativePath(SYSTEM_HOSTS_FILE);
        fs::create_directories(fs::path(hostsPath).parent_path());
        active = 0;
    }
    void install()
    {
        std::string licence = platform::nativePath("c:\\program files\\openvpn\\license.txt");
        fs::create_directories(fs::path(licence).parent_path());
        std::ofstream(licence) << "GPL\n";
    }
    void writeHosts(const std::string& content) { std::ofstream(hostsPath) << content; }
    std::string hosts() { return readFile(hostsPath); }
};

TEST_F(ClientStartup, WithoutOpenVpnTheReminderShowsAndNothingElseHappens)
{
    writeHosts("127.0.0.1 localhost\n");
    EXPECT_FALSE(startClient());
    std::vector<platform::StartedCommand> commands = platform::startedCommands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].commandLine, "remind.bat");
    EXPECT_EQ(commands[0].show, SW_SHOW);
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n");
    EXPECT_FALSE(fs::exists("hosts"));
}

TEST_F(ClientStartup, StartStopsOpenVpnFixesTheServerAddressAndAddsTheEntryOnce)
{
    install();
    writeHosts("127.0.0.1 localhost\n");
    EXPECT_TRUE(startClient());
    ASSERT_EQ(platform::startedCommands().size(), 1u);
    EXPECT_EQ(platform::startedCommands()[0].commandLine, "tskill openvpn");
    EXPECT_EQ(platform::startedCommands()[0].show, SW_HIDE);
    EXPECT_EQ(peerTunnelIp, 0x0A080001u);
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n10.8.0.1         Server\n");
    EXPECT_EQ(readFile("hosts"), hosts()); // the scratch copy stays behind

    EXPECT_TRUE(startClient()); // a second start finds its own entry
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n10.8.0.1         Server\n");
}

TEST_F(ClientStartup, ExitPathStopsOpenVpnOnlyWhileActive)
{
    stopClient();
    EXPECT_TRUE(platform::startedCommands().empty());
    active = 1;
    stopClient();
    ASSERT_EQ(platform::startedCommands().size(), 1u);
    EXPECT_EQ(platform::startedCommands()[0].commandLine, "tskill openvpn");
}

TEST_F(ClientStartup, OnlyALineForExactly10_8_0_1CountsAsTheEntry)
{
    const std::string present[] = {"10.8.0.1 vpn\n", "10.8.0.1\tServer\n", "10.8.0.1\n",
                                   "# hosts\n10.8.0.1         Server\n127.0.0.1 x\n"};
    for (const std::string& content : present) {
        writeHosts(content);
        addHostsEntry();
        EXPECT_EQ(hosts(), content);
    }
    const std::string absent[] = {"10.8.0.10 other\n", "10.8.0.100 other\n", "# 10.8.0.1 Server\n",
                                  "  10.8.0.1 Server\n", ""};
    for (const std::string& content : absent) {
        writeHosts(content);
        addHostsEntry();
        EXPECT_EQ(hosts(), content + "10.8.0.1         Server\n") << content;
    }
}

TEST_F(ClientStartup, LastLineWithoutBreakAndLongLinesStayWhole)
{
    std::string longLine = "127.0.0.1 " + std::string(250, 'a') + "\n";
    writeHosts(longLine + "192.168.1.1 router");
    addHostsEntry();
    EXPECT_EQ(hosts(), longLine + "192.168.1.1 router\n10.8.0.1         Server\n");
}

TEST_F(ClientStartup, MissingHostsFileIsCreatedWithTheEntry)
{
    addHostsEntry();
    EXPECT_EQ(hosts(), "10.8.0.1         Server\n");
}

TEST_F(ClientStartup, UnwritableSystemFileStaysAsItWasAndTheScratchCopyRemains)
{
    writeHosts("127.0.0.1 localhost\n");
    platform::failNextOpen(SYSTEM_HOSTS_FILE, 'w');
    addHostsEntry();
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n");
    EXPECT_EQ(readFile("hosts"), "127.0.0.1 localhost\n10.8.0.1         Server\n");
}

TEST_F(ClientStartup, ScratchCopyThatCannotBeCreatedOrReadBackLeavesTheSystemFileUntouched)
{
    writeHosts("127.0.0.1 localhost\n");
    platform::failNextOpen(SCRATCH_HOSTS_FILE, 'w');
    addHostsEntry();
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n");

    platform::failNextOpen(SCRATCH_HOSTS_FILE, 'r');
    addHostsEntry();
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n");

    platform::failNextWriteAfter(SCRATCH_HOSTS_FILE, 12); // a full disk
    addHostsEntry();
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n");
}

TEST_F(ClientStartup, WriteBackThatFailsMidwayPutsTheEarlierContentBack)
{
    std::string earlier = "127.0.0.1 localhost\n::1 localhost ip6-localhost\n";
    writeHosts(earlier);
    platform::failNextWriteAfter(SYSTEM_HOSTS_FILE, 10);
    addHostsEntry();
    EXPECT_EQ(hosts(), earlier);
}

TEST_F(ClientStartup, HostsFileThatCannotBeReadWholeIsLeftAsItIs)
{
    writeHosts("127.0.0.1 localhost\n");
    platform::failNextOpen(SYSTEM_HOSTS_FILE, 'r');
    addHostsEntry();
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n");

    // A read error after the open, with a "not found" left in errno from before.
    platform::failNextRead(SYSTEM_HOSTS_FILE);
    errno = ENOENT;
    addHostsEntry();
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n");

    // A text read stops at a Ctrl-Z: what follows it must not be lost.
    std::string withCtrlZ = "127.0.0.1 localhost\n\x1A\n192.168.1.1 router\n";
    writeHosts(withCtrlZ);
    addHostsEntry();
    EXPECT_EQ(hosts(), withCtrlZ);

    // As the very last byte it ends the file, as in old DOS files: nothing follows it.
    writeHosts("127.0.0.1 localhost\n\x1A");
    addHostsEntry();
    EXPECT_EQ(hosts(), "127.0.0.1 localhost\n10.8.0.1         Server\n");
}

} // namespace
