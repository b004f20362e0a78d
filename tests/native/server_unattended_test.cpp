// The server that starts with Windows: its sealed name and password, server.exe /auto
// with its log, one server at a time (the mutex, the stop event, the question to the
// user), and its ports kept to itself.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "common/values.h"
#include "control.h"
#include "rendezvous/discovery.h"
#include "rendezvous/openvpn.h"
#include "server/control.h"
#include "server/register.h"
#include "server/sealed.h"
#include "server/single.h"
#include "server/startup.h"
#include "server/unattended.h"
#include "shell/resource.h"
#include "support/net.h"
#include "support/scripted.h"
#include "udp/udp.h"

namespace {

namespace fs = std::filesystem;

const std::string FOLDER = "C:\\ProgramData\\punchvpn server";
const std::string SEALED = FOLDER + "\\credentials.sealed";
const std::string LOG = FOLDER + "\\unattended.log";
const char* CENTRAL = "1.2.3.4";
// A user of the computer who is no administrator, and what their objects look like.
const char* OTHER_USER = "S-1-5-21-1-2-3-1001";
const std::string OTHER_USERS_OBJECT = std::string("O:") + OTHER_USER + "D:(A;;GA;;;WD)";

// The bytes of a text in UTF-16LE with its byte-order mark, as PowerShell writes it.
std::string utf16(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text)
        bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
}

std::string content(const std::string& dosPath)
{
    std::ifstream file(platform::nativePath(dosPath), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

void put(const std::string& dosPath, const std::string& bytes)
{
    std::string path = platform::nativePath(dosPath);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The log's texts, without their times; every line must begin with one.
std::vector<std::string> logged()
{
    std::vector<std::string> texts;
    std::istringstream lines(content(LOG));
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (.*))");
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, match, stamped)) << line;
        texts.push_back(match[1]);
    }
    return texts;
}

// Whom a security descriptor's access entries name: each must allow all access.
std::set<std::string> trustees(const std::string& sddl, const std::string& rights)
{
    std::set<std::string> named;
    const std::regex entry(R"(\(A;[^;]*;([^;]*);;;([A-Z]+)\))");
    for (std::sregex_iterator it(sddl.begin(), sddl.end(), entry), end; it != end; ++it) {
        EXPECT_EQ((*it)[1], rights) << sddl;
        named.insert((*it)[2]);
    }
    return named;
}

struct Unattended : ::testing::Test {
    ScopedWorkDir dir;
    void SetUp() override
    {
        platform::resetRecords();
        platform::setDosRoot(dir.path() + "/dos");
        setenv("ProgramData", "C:\\ProgramData", 1);
        fs::create_directories(platform::nativePath("C:\\ProgramData"));
        unattended = false;
        heartbeat = active = requested = requestWait = missedBeats = connected = 0;
        probeSocket = punchSocket = -1;
    }
    void TearDown() override
    {
        for (int* s : {&probeSocket, &punchSocket})
            if (*s != -1)
                closesocket(*s);
    }
    void installOpenVpn()
    {
        put("c:\\program files\\openvpn\\license.txt", "GPL\n");
        put("c:\\program files\\openvpn\\bin\\openvpn.exe", "stand-in\n");
        platform::scriptSystem([](const std::string&) {
            std::ofstream("log") << "\nPinging central [1.2.3.4] with 32 bytes of data:\n";
            return 0;
        });
    }
    int prepare(const char* commandLine, bool expected)
    {
        int exitCode = -1;
        EXPECT_EQ(prepareServer(commandLine, exitCode), expected) << commandLine;
        return exitCode;
    }
};

// --- the sealed name and password ---

TEST_F(Unattended, SealedByTheInstallingAdministratorOpensForSystemAndShowsNeither)
{
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    std::string sealed = content(SEALED);
    EXPECT_EQ(sealed.find("office"), std::string::npos);
    EXPECT_EQ(sealed.find("secret"), std::string::npos);
    platform::runAs("SYSTEM"); // the task at boot
    char name[20], password[20];
    ASSERT_TRUE(unsealNameAndPassword(name, password));
    EXPECT_STREQ(name, "office");
    EXPECT_STREQ(password, "secret");

    platform::FileSecurity folder = platform::fileSecurity(FOLDER);
    EXPECT_EQ(folder.descriptor.rfind("O:BA", 0), 0u) << folder.descriptor;
    EXPECT_NE(folder.descriptor.find("D:P("), std::string::npos) << "inherits from ProgramData";
    EXPECT_EQ(trustees(folder.descriptor, "FA"), (std::set<std::string>{"SY", "BA"}));
}

TEST_F(Unattended, AFolderAnAdministratorMadeBeforeGetsTheProtectionToo)
{
    fs::create_directories(platform::nativePath(FOLDER));
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    platform::FileSecurity folder = platform::fileSecurity(FOLDER);
    EXPECT_EQ(trustees(folder.descriptor, "FA"), (std::set<std::string>{"SY", "BA"}));
    EXPECT_EQ(folder.what, static_cast<unsigned long>(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                                      PROTECTED_DACL_SECURITY_INFORMATION));
}

TEST_F(Unattended, AMissingDamagedCutOrOversizedSealedFileGivesNothing)
{
    char name[20] = "", password[20] = "";
    EXPECT_FALSE(unsealNameAndPassword(name, password));
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    std::string sealed = content(SEALED);
    for (size_t at : {size_t{0}, sealed.size() / 2, sealed.size() - 1}) {
        std::string damaged = sealed;
        damaged[at] ^= 0x20;
        put(SEALED, damaged);
        EXPECT_FALSE(unsealNameAndPassword(name, password)) << "byte " << at;
    }
    put(SEALED, sealed.substr(0, sealed.size() - 3));
    EXPECT_FALSE(unsealNameAndPassword(name, password));
    put(SEALED, sealed + std::string(5000, 'x'));
    EXPECT_FALSE(unsealNameAndPassword(name, password));
    EXPECT_STREQ(name, "");
}

TEST_F(Unattended, ASealThatCannotBeWrittenLeavesTheEarlierOneWhole)
{
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    platform::failNextWriteAfter(SEALED + ".new", 10); // the disk fills up
    EXPECT_FALSE(sealNameAndPassword("home", "other"));
    char name[20], password[20];
    ASSERT_TRUE(unsealNameAndPassword(name, password));
    EXPECT_STREQ(name, "office");
    EXPECT_FALSE(fs::exists(platform::nativePath(SEALED + ".new")));
}

TEST_F(Unattended, SealCommandTakesNameAndPasswordFromTheFirstTwoLinesOfAFile)
{
    put("C:\\setup\\unattended", "my office\r\npass word\r\n");
    EXPECT_EQ(prepare("/seal \"C:\\setup\\unattended\"", false), 0);
    char name[20], password[20];
    ASSERT_TRUE(unsealNameAndPassword(name, password));
    EXPECT_STREQ(name, "my office");
    EXPECT_STREQ(password, "pass word");
    EXPECT_TRUE(platform::startedCommands().empty()); // no start-up, no window
    EXPECT_FALSE(platform::objectExists(SERVER_MUTEX));

    for (const char* wrong : {"a-name-of-19-chars!\nsecret\n", "office\n", "\nsecret\n", ""}) {
        put("C:\\setup\\unattended", wrong);
        EXPECT_EQ(prepare("/SEAL C:\\setup\\unattended", false), 2) << wrong;
    }
    EXPECT_EQ(prepare("/seal C:\\setup\\missing", false), 2);
    put("C:\\setup\\unattended", "office\nsecret");
    unsetenv("ProgramData");
    EXPECT_EQ(prepare("/seal C:\\setup\\unattended", false), 3);
}

// --- what the computer's other users can reach ---

TEST_F(Unattended, SecretFilesAreMadeAfreshForAdministratorsOnlyNotWrittenIntoWhereAnotherUserPutThem)
{
    // Another user made both beforehand, open to everyone, to read what goes in.
    std::ofstream("unamepass") << "prepared\n";
    platform::setFileOwner("unamepass", OTHER_USER);
    put(SEALED + ".new", "prepared");
    ASSERT_TRUE(protectDataFolder());
    platform::setFileOwner(SEALED + ".new", OTHER_USER);
    ASSERT_TRUE(writeUserNamePassword("office", "secret"));
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    EXPECT_EQ(content("unamepass"), "office secret\r\n");
    for (const std::string& path : {std::string("unamepass"), SEALED}) {
        platform::FileSecurity file = platform::fileSecurity(path);
        EXPECT_EQ(file.descriptor.rfind("D:P(", 0), 0u) << path << " inherits: " << file.descriptor;
        EXPECT_EQ(trustees(file.descriptor, "FA"), (std::set<std::string>{"SY", "BA"})) << path;
    }
}

TEST_F(Unattended, ADataFolderAnotherUserMadeOrALinkElsewhereIsMovedAsideAndMadeAnew)
{
    put(SEALED + ".new", "prepared by another user");
    platform::setFileOwner(FOLDER, OTHER_USER);
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    EXPECT_EQ(content(FOLDER + " (moved aside)\\credentials.sealed.new"), "prepared by another user");
    EXPECT_FALSE(fs::exists(platform::nativePath(SEALED + ".new")));
    EXPECT_EQ(platform::fileSecurity(FOLDER).descriptor.rfind("O:BAD:P(", 0), 0u);
    EXPECT_EQ(logged().back(), "the data folder was there already, made by another user or as a link elsewhere: "
                               "moved aside to " + FOLDER + " (moved aside) and made anew");

    // A junction to a folder the other user can read: nothing is written through it.
    fs::remove_all(platform::nativePath(FOLDER));
    std::string elsewhere = platform::nativePath("C:\\Users\\Public\\open");
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, platform::nativePath(FOLDER));
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(fs::is_symlink(platform::nativePath(FOLDER)));
    EXPECT_TRUE(fs::is_symlink(platform::nativePath(FOLDER + " (moved aside 2)")));
    char name[20], password[20];
    EXPECT_TRUE(unsealNameAndPassword(name, password));
}

TEST_F(Unattended, InTheServersOwnFolderEachOfItsFilesIsClosedAgain)
{
    // What an earlier version left: the folder protected, files in it as they were made.
    put(LOG, "2026-01-01 00:00:00 started unattended (server.exe /auto)\n");
    put(FOLDER + "\\task.xml", "<Task/>");
    put(FOLDER + "\\notes.txt", "not the server's");
    ASSERT_TRUE(protectDataFolder());
    for (const std::string& path : {LOG, FOLDER + "\\task.xml"}) {
        platform::FileSecurity file = platform::fileSecurity(path);
        EXPECT_EQ(trustees(file.descriptor, "FA"), (std::set<std::string>{"SY", "BA"})) << path;
        EXPECT_TRUE(file.what & OWNER_SECURITY_INFORMATION) << path;
    }
    EXPECT_EQ(logged().size(), 1u); // kept, and no word of a move
    EXPECT_TRUE(platform::fileSecurity(FOLDER + "\\notes.txt").descriptor.empty());
}

TEST_F(Unattended, SealCommandReadsTheEncodingsNotepadAndPowerShellWriteAndRefusesOthers)
{
    const std::string refused[] = {
        "B\xFC" "cher\nsecret\n",                     // Latin-1 bytes: no UTF-8
        utf16(u"B\u00FCcher\r\nsecret\r\n") + "x",    // cut in a character
        utf16(u"\u6771\u4EAC\r\nsecret\r\n"),          // not in the code page
        "\xFE\xFF" "\0B\0\n\0s\0\n",                  // UTF-16 big-endian
        utf16(u"office\r\nsecret-of-19-chars!\r\n"),
    };
    for (const std::string& bytes : refused) {
        put("C:\\setup\\unattended", bytes);
        EXPECT_EQ(prepare("/seal C:\\setup\\unattended", false), 2) << bytes;
    }
    EXPECT_FALSE(fs::exists(platform::nativePath(FOLDER))) << "made for a refused file";

    const std::pair<std::string, std::string> accepted[] = {
        {"B\xC3\xBC" "cher\nStra\xC3\x9F" "e\n", ""},                   // UTF-8
        {"\xEF\xBB\xBF" "B\xC3\xBC" "cher\r\nStra\xC3\x9F" "e\r\n", ""}, // with its mark
        {utf16(u"B\u00FCcher\r\nStra\u00DFe\r\n"), ""},                  // UTF-16LE
        {utf16(u"B\u00FCcher\r\n"), "Stra\xC3\x9F" "e"},                 // and a password file
        {"B\xC3\xBC" "cher", utf16(u"Stra\u00DFe\r\n")},
    };
    for (const auto& [file, passwordFile] : accepted) {
        put("C:\\setup\\unattended", file);
        put("C:\\setup\\pass word.txt", passwordFile);
        std::string command = "/seal \"C:\\setup\\unattended\"";
        if (!passwordFile.empty())
            command += " \"C:\\setup\\pass word.txt\"";
        EXPECT_EQ(prepare(command.c_str(), false), 0) << file;
        char name[20] = "", password[20] = "";
        ASSERT_TRUE(unsealNameAndPassword(name, password));
        EXPECT_STREQ(name, "B\xFC" "cher") << file; // the code page's bytes, as the dialog has them
        EXPECT_STREQ(password, "Stra\xDF" "e") << file;
        fs::remove(platform::nativePath(SEALED));
    }
}

// --- server.exe /auto ---

TEST_F(Unattended, AutoFillsTheSealedNameAndPasswordConnectsAndLogsEachStatus)
{
    installOpenVpn();
    addLocalAddress(CENTRAL);
    LoopingCentral central(CENTRAL);
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    platform::runAs("SYSTEM");
    EXPECT_EQ(prepare(" /AUTO ", true), 0);
    EXPECT_TRUE(platform::errorMode() & SEM_NOGPFAULTERRORBOX);
    platform::openDialog(controlDialogProc);
    EXPECT_EQ(platform::itemText(NAME_FIELD), "office");
    EXPECT_EQ(platform::itemText(PASSWORD_FIELD), "secret");
    EXPECT_EQ(platform::itemText(STATUS_LINE), "WAIT FOR REQUEST");
    EXPECT_EQ(central.registrations(), 1);
    EXPECT_EQ(logged(), (std::vector<std::string>{"started unattended (server.exe /auto)", "IDLE",
                                                  "REPORT TO CENTRAL", "WAIT FOR REQUEST"}));
    logStatus("CONNECTED\nSERVER:10.8.0.1  CLIENT:10.8.0.2");
    EXPECT_EQ(logged().back(), "CONNECTED SERVER:10.8.0.1  CLIENT:10.8.0.2");
    EXPECT_TRUE(platform::messageBoxes().empty());
}

TEST_F(Unattended, AutoWithoutAReadableSealedFileLogsOneLineAndEndsWithTwo)
{
    installOpenVpn();
    EXPECT_EQ(prepare("/auto", false), 2);
    put(SEALED, "damaged");
    EXPECT_EQ(prepare("/auto", false), 2);
    std::vector<std::string> lines = logged();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("cannot read the name and password in " + SEALED), std::string::npos);
    EXPECT_TRUE(platform::startedCommands().empty());
    EXPECT_TRUE(platform::systemCommands().empty());
    EXPECT_TRUE(platform::messageBoxes().empty());
    EXPECT_FALSE(platform::objectExists(SERVER_MUTEX));
}

TEST_F(Unattended, AutoWithoutOpenVpnLogsInsteadOfTheReminderAndEndsWithOne)
{
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    EXPECT_EQ(prepare("/auto", false), 1);
    EXPECT_TRUE(platform::startedCommands().empty());
    EXPECT_NE(logged().back().find("OpenVPN is not installed"), std::string::npos);
}

TEST_F(Unattended, WithoutTheFlagNothingIsLoggedAndNothingFilled)
{
    installOpenVpn();
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    EXPECT_EQ(prepare("/automatic", true), 0);
    platform::openDialog(controlDialogProc);
    EXPECT_EQ(platform::itemText(NAME_FIELD), "");
    EXPECT_EQ(platform::itemHistory(STATUS_LINE), std::vector<std::string>{"IDLE"});
    EXPECT_FALSE(fs::exists(platform::nativePath(LOG)));
}

TEST_F(Unattended, TheLogKeepsOneOlderCopyAndStaysWithinItsBound)
{
    unattended = true;
    const std::string text(70, 'x');
    for (int i = 0; i < 3000; ++i)
        logLine(text.c_str());
    auto size = [](const std::string& dos) { return fs::file_size(platform::nativePath(dos)); };
    EXPECT_LE(size(LOG), 64u * 1024);
    EXPECT_GE(size(LOG + ".old"), 64u * 1024);
    EXPECT_LT(size(LOG + ".old"), 64u * 1024 + 100);
    EXPECT_EQ(logged().back(), text);
}

// --- one server at a time ---

struct OneServer : Unattended {
    int stopRequests = 0;
    // Plays the running server: it ends `afterMs` after the stop event is set (never
    // when negative), without letting go of the mutex.
    std::unique_ptr<platform::ClockListener> runningServer(int afterMs)
    {
        platform::holdMutexElsewhere(SERVER_MUTEX);
        auto stopAt = std::make_shared<uint64_t>(0);
        return std::make_unique<platform::ClockListener>([this, afterMs, stopAt] {
            if (platform::takeEventElsewhere(STOP_EVENT)) {
                ++stopRequests;
                *stopAt = GetTickCount64() + afterMs;
            }
            if (*stopAt && afterMs >= 0 && GetTickCount64() >= *stopAt)
                platform::endHolderElsewhere(SERVER_MUTEX);
        });
    }
    void answer(int button)
    {
        platform::scriptMessageBoxes([button](const std::string&) { return button; });
    }
};

TEST_F(OneServer, TheFirstServerHoldsTheMutexThatAdministratorsOfEverySessionCanOpen)
{
    installOpenVpn();
    EXPECT_EQ(prepare("", true), 0);
    EXPECT_TRUE(platform::mutexHeldHere(SERVER_MUTEX));
    for (const char* name : {SERVER_MUTEX, STOP_EVENT}) {
        EXPECT_EQ(trustees(platform::objectSecurity(name), "GA"), (std::set<std::string>{"SY", "BA"}));
        EXPECT_EQ(platform::objectSecurity(name).rfind("O:BA", 0), 0u);
    }
    EXPECT_FALSE(platform::objectExists(GLOBAL_SERVER_MUTEX)); // in the private namespace only
    EXPECT_TRUE(platform::messageBoxes().empty());
}

TEST_F(OneServer, AnsweredNoTheStartEndsBeforeItsStartUpAndTheOtherRunsOn)
{
    installOpenVpn();
    auto other = runningServer(2000);
    answer(IDNO);
    EXPECT_EQ(prepare("", false), 0);
    ASSERT_EQ(platform::messageBoxes().size(), 1u);
    EXPECT_NE(platform::messageBoxes()[0].text.find("already running"), std::string::npos);
    EXPECT_EQ(platform::messageBoxes()[0].type, static_cast<unsigned>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(stopRequests, 0);
    EXPECT_TRUE(platform::startedCommands().empty()); // its OpenVPN was left alone
}

TEST_F(OneServer, AnsweredYesTheOtherIsAskedToStopAndThisOneGoesOnOnceItHasEnded)
{
    installOpenVpn();
    auto other = runningServer(3000);
    answer(IDYES);
    bool heldAtStartUp = false; // the other's OpenVPN is ended only once it has gone
    platform::scriptWinExec([&heldAtStartUp](const std::string&) {
        heldAtStartUp = platform::mutexHeldHere(SERVER_MUTEX);
        return 0;
    });
    EXPECT_EQ(prepare("", true), 0);
    EXPECT_EQ(stopRequests, 1);
    EXPECT_TRUE(platform::mutexHeldHere(SERVER_MUTEX));
    EXPECT_GE(GetTickCount64(), 3000u);
    EXPECT_EQ(platform::startedCommands().at(0).commandLine, "tskill openvpn");
    EXPECT_TRUE(heldAtStartUp);
    EXPECT_EQ(platform::messageBoxes().size(), 1u);

    platform::openDialog(controlDialogProc); // the request was for the other one
    EXPECT_TRUE(platform::fireTimer(2));
    EXPECT_FALSE(platform::dialogEnded());
}

TEST_F(OneServer, AnOtherThatDoesNotStopWithinThirtySecondsIsSaid)
{
    auto other = runningServer(-1);
    answer(IDYES);
    EXPECT_EQ(prepare("", false), 0);
    EXPECT_GE(GetTickCount64(), 30000u);
    ASSERT_EQ(platform::messageBoxes().size(), 2u);
    EXPECT_NE(platform::messageBoxes()[1].text.find("did not stop"), std::string::npos);
}

TEST_F(OneServer, StopCommandEndsTheRunningServerAndWaitsForIt)
{
    EXPECT_EQ(prepare("/stop", false), 0); // none runs
    auto other = runningServer(2000);
    EXPECT_EQ(prepare("/stop", false), 0);
    EXPECT_EQ(stopRequests, 1);
    EXPECT_GE(GetTickCount64(), 2000u);
    other = runningServer(-1);
    EXPECT_EQ(prepare("/stop", false), 1);
    EXPECT_TRUE(platform::messageBoxes().empty());
    EXPECT_TRUE(platform::startedCommands().empty());
}

TEST_F(OneServer, TheUnattendedOneNeverAsksItLogsThatAnotherRuns)
{
    installOpenVpn();
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    auto other = runningServer(0);
    EXPECT_EQ(prepare("/auto", false), 0);
    EXPECT_TRUE(platform::messageBoxes().empty());
    EXPECT_EQ(stopRequests, 0);
    EXPECT_NE(logged().back().find("another server is running"), std::string::npos);
}

TEST_F(OneServer, TheStopEventEndsTheDialogAsCancelDoes)
{
    installOpenVpn();
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    platform::scriptSystem([](const std::string&) { return 0; }); // no central: CENTRAL TIMEOUT
    EXPECT_EQ(prepare("/auto", true), 0);
    platform::openDialog(controlDialogProc);
    EXPECT_EQ(platform::timerPeriod(2), 500u);
    EXPECT_TRUE(platform::fireTimer(2));
    EXPECT_FALSE(platform::dialogEnded());
    platform::setEventElsewhere(STOP_EVENT);
    EXPECT_TRUE(platform::fireTimer(2));
    EXPECT_TRUE(platform::dialogEnded());
    EXPECT_EQ(platform::dialogResult(), IDCANCEL);
    EXPECT_EQ(platform::quitCode(), 0);
    EXPECT_EQ(logged().back(), "asked to stop; ends as on Cancel");
    EXPECT_FALSE(platform::takeEventElsewhere(STOP_EVENT)); // taken by the server
}

TEST_F(OneServer, WithoutPrivateNamespacesAnotherUsersObjectsNeitherHoldBackNorStopTheServer)
{
    installOpenVpn();
    ASSERT_TRUE(sealNameAndPassword("office", "secret"));
    platform::withoutPrivateNamespaces(); // as under Wine
    platform::makeObjectElsewhere(GLOBAL_SERVER_MUTEX, true, OTHER_USERS_OBJECT);
    platform::holdMutexElsewhere(GLOBAL_SERVER_MUTEX);
    platform::makeObjectElsewhere(GLOBAL_STOP_EVENT, false, OTHER_USERS_OBJECT);
    EXPECT_EQ(prepare("/auto", true), 0);
    platform::openDialog(controlDialogProc);
    platform::setEventElsewhere(GLOBAL_STOP_EVENT);
    platform::advanceClock(2000);
    platform::fireTimer(2);
    EXPECT_FALSE(platform::dialogEnded());
    EXPECT_TRUE(platform::messageBoxes().empty());
    std::vector<std::string> lines = logged();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        std::string(GLOBAL_SERVER_MUTEX) +
                            " was made by another user, not an administrator: this server does without it"),
              lines.end());
    EXPECT_EQ(prepare("/stop", false), 1); // a server may run that nobody can reach
}

TEST_F(OneServer, WithoutPrivateNamespacesTheGlobalNamesStillKeepOneServer)
{
    installOpenVpn();
    platform::withoutPrivateNamespaces();
    EXPECT_EQ(prepare("", true), 0);
    EXPECT_TRUE(platform::mutexHeldHere(GLOBAL_SERVER_MUTEX));
    EXPECT_EQ(platform::objectSecurity(GLOBAL_STOP_EVENT).rfind("O:BAD:", 0), 0u);
    EXPECT_FALSE(platform::objectExists(SERVER_MUTEX));
}

TEST_F(OneServer, BothSocketsKeepTheirPortsToThemselves)
{
    ASSERT_EQ(openPunchSocket(), 0);
    EXPECT_TRUE(platform::openedForExclusiveUse(punchSocket));
    addLocalAddress(SERVER_TUNNEL_ADDRESS);
    probeSocket = udpOpenTunnel();
    ASSERT_NE(probeSocket, -1);
    EXPECT_TRUE(platform::openedForExclusiveUse(probeSocket));
}

} // namespace
