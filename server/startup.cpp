#include "startup.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "common/values.h"
#include "rendezvous/discovery.h"
#include "rendezvous/installation.h"
#include "rendezvous/message.h"
#include "rendezvous/openvpn.h"
#include "server/control.h"
#include "server/register.h"
#include "server/sealed.h"
#include "server/single.h"
#include "server/unattended.h"
#include "udp/udp.h"

#include <cctype>
#include <string>
#include <vector>

static void readComputerName()
{
    memset(computerName, 0, sizeof computerName);
    const char* name = getenv("COMPUTERNAME");
    if (name)
        copyField(computerName, sizeof computerName, name);
}

bool startServer()
{
    putOpenVpnOnPath();
    readComputerName();
    if (!openVpnInstalled()) {
        // remind.bat waits for a key, which nobody at boot would press.
        if (unattended)
            logLine("OpenVPN is not installed on this computer; the server ends");
        else
            startCommand(REMIND_COMMAND, SW_SHOW);
        return false;
    }
    endOpenVpn();
    peerTunnelIp = udpAddress(CLIENT_TUNNEL_ADDRESS);
    udpStartup();
    findCentralServer();
    return true;
}

void stopServer()
{
    endOpenVpn();
}

// The command line's words, as Windows' programs split them: at blanks, except within
// double quotes, which are dropped. The first is given in lower case.
static std::vector<std::string> wordsOf(const char* commandLine)
{
    std::vector<std::string> words;
    std::string line = commandLine ? commandLine : "";
    for (size_t at = line.find_first_not_of(" \t"); at != std::string::npos;
         at = line.find_first_not_of(" \t", at)) {
        std::string word;
        bool quoted = false;
        for (; at < line.size() && (quoted || (line[at] != ' ' && line[at] != '\t')); ++at) {
            if (line[at] == '"')
                quoted = !quoted;
            else
                word += line[at];
        }
        words.push_back(word);
    }
    if (!words.empty())
        for (char& c : words[0])
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return words;
}

// server.exe /seal FILE [PASSWORDFILE]; 2 without a file.
static int seal(const std::vector<std::string>& words)
{
    if (words.size() < 2 || words.size() > 3)
        return 2;
    return sealFromFile(words[1].c_str(), words.size() == 3 ? words[2].c_str() : nullptr);
}

bool prepareServer(const char* commandLine, int& exitCode)
{
    exitCode = 0;
    std::vector<std::string> words = wordsOf(commandLine);
    std::string word = words.empty() ? "" : words[0];
    if (word == SEAL_SWITCH || word == STOP_SWITCH) {
        exitCode = word == SEAL_SWITCH ? seal(words) : stopTheServer();
        return false;
    }
    unattended = word == AUTO_SWITCH;
    if (unattended && !beginUnattended(exitCode))
        return false;
    if (!becomeTheServer())
        return false;
    if (startServer())
        return true;
    // Task Scheduler sees that the unattended server could not start.
    exitCode = unattended ? 1 : 0;
    return false;
}
