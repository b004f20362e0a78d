#include "unattended.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "server/sealed.h"
#include "shell/resource.h"

bool unattended;

static char sealedName[20];
static char sealedPassword[20];

// A status line a tick, for weeks of retries: the log and its one older copy stay
// within twice this.
static const long LOG_LIMIT = 64 * 1024;

bool beginUnattended(int& exitCode)
{
    // Nobody would answer Windows' own boxes for a missing disk or a crash: the
    // program fails at once instead, and Task Scheduler restarts it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (!unsealNameAndPassword(sealedName, sealedPassword)) {
        logLine(("cannot read the name and password in " + dataFile(SEALED_FILE_NAME) +
                 " (missing, damaged or sealed on another computer): install the server again "
                 "with \"Start the server when Windows starts\"")
                    .c_str());
        exitCode = 2;
        return false;
    }
    logLine("started unattended (server.exe /auto)");
    return true;
}

void connectUnattended(HWND dialog)
{
    if (!unattended)
        return;
    SetDlgItemTextA(dialog, NAME_FIELD, sealedName);
    SetDlgItemTextA(dialog, PASSWORD_FIELD, sealedPassword);
    SendMessageA(dialog, WM_COMMAND, CONNECT_BUTTON, 0);
}

void logStatus(const char* text)
{
    if (!unattended)
        return;
    std::string line = text;
    for (char& c : line)
        if (c == '\n')
            c = ' ';
    logLine(line.c_str());
}

static long fileSize(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return 0;
    long size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : 0;
    fclose(file);
    return size;
}

// The log, opened for appending; its folder is made (protected) when it is missing.
static FILE* openLog(const std::string& path)
{
    if (fileSize(path) >= LOG_LIMIT)
        MoveFileExA(path.c_str(), (path + ".old").c_str(), MOVEFILE_REPLACE_EXISTING);
    FILE* file = fopen(path.c_str(), "a");
    if (!file && protectDataFolder())
        file = fopen(path.c_str(), "a");
    return file;
}

void logLine(const char* text)
{
    std::string path = dataFile(LOG_FILE_NAME);
    FILE* file = path.empty() ? nullptr : openLog(path);
    if (!file)
        return; // nobody to tell
    char stamp[32];
    time_t now = time(nullptr);
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", localtime(&now));
    fprintf(file, "%s %s\n", stamp, text);
    fclose(file);
}
