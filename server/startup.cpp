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

// The command line's first word, and the rest without the blanks and quotes around it.
static std::string firstWord(const char* commandLine, std::string& rest)
{
    std::string line = commandLine ? commandLine : "";
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos)
        return "";
    size_t end = line.find_first_of(" \t", start);
    std::string word = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    rest = end == std::string::npos ? "" : line.substr(end);
    rest.erase(0, rest.find_first_not_of(" \t\""));
    rest.erase(rest.find_last_not_of(" \t\"") + 1);
    for (char& c : word)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return word;
}

bool prepareServer(const char* commandLine, int& exitCode)
{
    exitCode = 0;
    std::string rest;
    std::string word = firstWord(commandLine, rest);
    if (word == SEAL_SWITCH || word == STOP_SWITCH) {
        exitCode = word == SEAL_SWITCH ? sealFromFile(rest.c_str()) : stopTheServer();
        return false;
    }
    unattended = word == AUTO_SWITCH;
    if (unattended && !beginUnattended(exitCode))
        return false;
    return becomeTheServer() && startServer();
}
