// Where the programs find OpenVPN: the folder its installer recorded in the
// registry, else the default one, put at the front of the PATH that the commands
// they start inherit; and how they end it where Windows has no tskill.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>

#include "control.h"
#include "rendezvous/installation.h"
#include "rendezvous/openvpn.h"
#include "support/net.h"

namespace {

namespace fs = std::filesystem;

const char* const KEY = "SOFTWARE\\OpenVPN";
const char* const EARLIER_PATH = "C:\\Windows\\system32;C:\\Windows";

struct Installation : ::testing::Test {
    ScopedWorkDir dir;
    std::string savedPath = getenv("PATH") ? getenv("PATH") : "";

    void SetUp() override
    {
        platform::resetRecords();
        platform::setDosRoot(dir.path() + "/dos");
        setenv("PATH", EARLIER_PATH, 1);
    }
    void TearDown() override { setenv("PATH", savedPath.c_str(), 1); }

    void put(const std::string& dosPath)
    {
        std::string file = platform::nativePath(dosPath);
        fs::create_directories(fs::path(file).parent_path());
        std::ofstream(file) << "stand-in\n";
    }
    std::string path() { return getenv("PATH"); }
};

TEST_F(Installation, TheDefaultFolderGoesToTheFrontOfThePath)
{
    put("C:\\Program Files\\OpenVPN\\license.txt");
    put("C:\\Program Files\\OpenVPN\\bin\\openvpn.exe");
    EXPECT_TRUE(openVpnInstalled());
    putOpenVpnOnPath();
    EXPECT_EQ(path(), std::string("C:\\Program Files\\OpenVPN\\bin;") + EARLIER_PATH);
}

TEST_F(Installation, AnotherFolderCountsWhenTheRegistryNamesIt)
{
    put("D:\\Tools\\OpenVPN\\bin\\openvpn.exe");
    platform::setRegistryText(KEY, "exe_path", "D:\\Tools\\OpenVPN\\bin\\openvpn.exe");
    platform::setRegistryText(KEY, "bin_dir", "D:\\Elsewhere\\bin\\");
    EXPECT_TRUE(openVpnInstalled());
    putOpenVpnOnPath();
    EXPECT_EQ(path(), std::string("D:\\Tools\\OpenVPN\\bin;") + EARLIER_PATH);

    // bin_dir, written with its closing backslash, where exe_path is missing.
    platform::resetRecords();
    platform::setDosRoot(dir.path() + "/dos");
    setenv("PATH", EARLIER_PATH, 1);
    put("E:\\VPN\\bin\\openvpn.exe");
    platform::setRegistryText(KEY, "bin_dir", "E:\\VPN\\bin\\");
    EXPECT_TRUE(openVpnInstalled());
    putOpenVpnOnPath();
    EXPECT_EQ(path(), std::string("E:\\VPN\\bin;") + EARLIER_PATH);
}

TEST_F(Installation, AFolderWithoutOpenVpnIsPassedOver)
{
    // The registry names a folder that was removed since, and holds a number.
    platform::setRegistryText(KEY, "exe_path", "D:\\Gone\\bin\\openvpn.exe");
    platform::setRegistryNumber(KEY, "bin_dir", 7);
    EXPECT_FALSE(openVpnInstalled());
    putOpenVpnOnPath();
    EXPECT_EQ(path(), EARLIER_PATH);

    // The default folder is found after it.
    put("C:\\Program Files\\OpenVPN\\bin\\openvpn.exe");
    EXPECT_FALSE(openVpnInstalled()); // neither the licence nor the registry names it
    putOpenVpnOnPath();
    EXPECT_EQ(path(), std::string("C:\\Program Files\\OpenVPN\\bin;") + EARLIER_PATH);

    // The licence file alone still counts as installed; there is nothing to put on the path.
    fs::remove_all(platform::nativePath("C:\\Program Files\\OpenVPN\\bin"));
    put("c:\\program files\\openvpn\\license.txt");
    setenv("PATH", EARLIER_PATH, 1);
    EXPECT_TRUE(openVpnInstalled());
    putOpenVpnOnPath();
    EXPECT_EQ(path(), EARLIER_PATH);
}

TEST_F(Installation, AnEmptyPathGetsTheFolderAlone)
{
    unsetenv("PATH");
    put("C:\\Program Files\\OpenVPN\\bin\\openvpn.exe");
    putOpenVpnOnPath();
    EXPECT_EQ(path(), "C:\\Program Files\\OpenVPN\\bin");
}

TEST_F(Installation, OpenVpnIsEndedWithTaskkillWhereThereIsNoTskill)
{
    endOpenVpn();
    ASSERT_EQ(platform::startedCommands().size(), 1u);
    EXPECT_EQ(platform::startedCommands()[0].commandLine, "tskill openvpn");

    platform::removeProgram("tskill");
    endOpenVpn();
    ASSERT_EQ(platform::startedCommands().size(), 3u);
    EXPECT_EQ(platform::startedCommands()[1].commandLine, "tskill openvpn");
    EXPECT_EQ(platform::startedCommands()[2].commandLine, "taskkill /F /IM openvpn.exe");
    EXPECT_EQ(platform::startedCommands()[2].show, SW_HIDE);
}

} // namespace
