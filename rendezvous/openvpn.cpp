#include "openvpn.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "common/secret_file.h"

// Closes the file and tells whether everything written reached it.
static bool closeWritten(FILE* file, bool written)
{
    bool flushed = fflush(file) == 0 && !ferror(file);
    return fclose(file) == 0 && written && flushed;
}

bool writeUserNamePassword(const char* userName, const char* password)
{
    // Text mode's line end, as OpenVPN on Windows reads it.
    std::string text = std::string(userName) + " " + password + "\r\n";
    return writeSecretFile("unamepass", text.data(), static_cast<DWORD>(text.size()));
}

// Octet n of a host-order address, counted from the least significant.
static int octet(uint32_t ip, int n)
{
    return static_cast<int>((ip >> (8 * n)) & 0xFF);
}

bool writeOpBat(uint32_t serverIp, uint16_t serverPort)
{
    FILE* file = fopen("op.bat", "w");
    if (!file)
        return false;
    bool written = fprintf(file, "openvpn --config client.ovpn --remote %d.%d.%d.%d %d < unamepass\n",
                           octet(serverIp, 3), octet(serverIp, 2), octet(serverIp, 1),
                           octet(serverIp, 0), serverPort) > 0 &&
                   fprintf(file, "exit") > 0;
    return closeWritten(file, written);
}

void startCommand(const char* commandLine, unsigned show)
{
    WinExec(commandLine, show);
}

void endOpenVpn()
{
    // WinExec gives 31 or less when it could not start the command at all.
    if (WinExec(TSKILL_COMMAND, SW_HIDE) <= 31)
        WinExec(TASKKILL_COMMAND, SW_HIDE);
}
