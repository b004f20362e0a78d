// Central server discovery on the output layouts of ping that the programs meet.
#include <gtest/gtest.h>

#include <fstream>

#include "common/values.h"
#include "control.h"
#include "rendezvous/discovery.h"
#include "support/net.h"

namespace {

struct Discovery : ::testing::Test {
    ScopedWorkDir dir;
    void SetUp() override { platform::resetRecords(); }

    // Makes the next ping write this output to the file it is redirected to, and
    // a ping asked for IPv4 (-4) the other one.
    static void pingPrints(const std::string& output, const std::string& asIPv4 = "")
    {
        platform::scriptSystem([output, asIPv4](const std::string& command) {
            bool minus4 = command.find(" -4 ") != std::string::npos;
            std::ofstream("log") << (minus4 ? asIPv4 : output);
            return 0;
        });
    }
};

TEST_F(Discovery, RunsPingOnceIntoLogAndTakesWindowsLayout)
{
    pingPrints("\nPinging " CENTRAL_HOST " [192.168.7.9] with 32 bytes of data:\n"
               "Request timed out.\n\nPing statistics for 192.168.7.9:\n");
    findCentralServer();
    EXPECT_EQ(centralIp, 0xC0A80709u);
    EXPECT_EQ(platform::systemCommands(),
              std::vector<std::string>{"ping -n 1 " CENTRAL_HOST " > log"});
    std::ifstream log("log"); // left in place
    EXPECT_TRUE(log.good());
}

TEST_F(Discovery, TakesWineAndOtherLanguageLayouts)
{
    pingPrints("Pinging host [1.2.3.4] with 32 bytes of data:\nReply from 1.2.3.4\n");
    findCentralServer();
    EXPECT_EQ(centralIp, 0x01020304u);

    pingPrints("\nPing wird ausgef\xfchrt f\xfcr host [10.20.30.40] mit 32 Bytes Daten:\n");
    findCentralServer();
    EXPECT_EQ(centralIp, 0x0A141E28u);
}

TEST_F(Discovery, EachRunTakesTheNewAddressAndAFailureLeavesZero)
{
    pingPrints("\nPinging host [5.6.7.8] with 32 bytes of data:\n");
    findCentralServer();
    EXPECT_EQ(centralIp, 0x05060708u);

    pingPrints("Ping request could not find host " CENTRAL_HOST
               ". Please check the name and try again.\n");
    findCentralServer();
    EXPECT_EQ(centralIp, 0u);
    EXPECT_EQ(platform::systemCommands().size(), 2u);
}

TEST_F(Discovery, NameAnnouncedByItsIPv6AddressIsAskedForAgainAsIPv4)
{
    pingPrints("\nPinging host [2001:db8::1] with 32 bytes of data:\n",
               "\nPinging host [5.6.7.8] with 32 bytes of data:\n");
    findCentralServer();
    EXPECT_EQ(centralIp, 0x05060708u);
    EXPECT_EQ(platform::systemCommands(),
              (std::vector<std::string>{"ping -n 1 " CENTRAL_HOST " > log",
                                        "ping -4 -n 1 " CENTRAL_HOST " > log"}));

    // A ping that cannot resolve the name at all announces no address: no second ask.
    pingPrints("Ping request could not find host " CENTRAL_HOST ".\n");
    findCentralServer();
    EXPECT_EQ(platform::systemCommands().size(), 3u);

    // Wine's ping takes no -4 and prints its usage: nothing found.
    pingPrints("\nPinging host [::1] with 32 bytes of data:\n",
               "Usage: ping [-n count] [-w timeout] target_name\n");
    findCentralServer();
    EXPECT_EQ(centralIp, 0u);
    EXPECT_EQ(platform::systemCommands().size(), 5u);
}

TEST_F(Discovery, NoUsableAddressGivesZero)
{
    const char* outputs[] = {
        "\nPinging host [::1] with 32 bytes of data:\n",             // IPv6 answer
        "\nPinging host [fe80::1%4] with 32 bytes of data:\n",        // IPv6 with zone
        "\nPinging host [255.255.255.255] with 32 bytes of data:\n",  // no address
        "\nPinging host [0.0.0.0] with 32 bytes of data:\n",          // no address
        "\nPinging host [1.2.3] with 32 bytes of data:\n",            // not dotted quad
        "\nPinging host [1.2.3.256] with 32 bytes of data:\n",        // out of range
        "\nPinging host [] with 32 bytes of data:\n",                 // empty word
        "\nPinging host [1111111111111111111111111111111111111111.1.1.1] of data\n",
        "",                                                          // no lines at all
        "\n\n\n\n\nPinging host [1.2.3.4] far too late\n",            // beyond the first lines
    };
    for (const char* output : outputs) {
        centralIp = 0x01010101;
        pingPrints(output);
        findCentralServer();
        EXPECT_EQ(centralIp, 0u) << output;
    }
}

TEST_F(Discovery, MissingLogGivesZero)
{
    centralIp = 0x01010101;
    findCentralServer(); // the unscripted ping writes nothing
    EXPECT_EQ(centralIp, 0u);
}

} // namespace
