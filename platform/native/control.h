// What a native test can see and script of the stand-in operating system.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Commands run through the C runtime's system(): recorded in order. A test may
// script what each one does (for example write the file that ping redirects to)
// and what it returns; without a script a command does nothing and returns 0.
using CommandScript = std::function<int(const std::string& command)>;
void scriptSystem(CommandScript script);
std::vector<std::string> systemCommands();

// Commands started with WinExec: recorded with their show state. A script may
// act on them; WinExec returns 33 ("started") as Windows does on success.
struct StartedCommand {
    std::string commandLine;
    unsigned show;
};
void scriptWinExec(CommandScript script);
std::vector<StartedCommand> startedCommands();

// Winsock start-up: the result that WSAStartup gives and the version it reports.
void scriptWinsock(int startupResult, unsigned short version);
int winsockCleanups();

// DOS paths ("c:\...", "\...") map to ROOT/c/... with forward slashes.
void setDosRoot(const std::string& root);
std::string nativePath(const std::string& dosPath);

// Text sent to the debugger with OutputDebugStringA.
std::vector<std::string> debugOutput();

// Clears every record and script.
void resetRecords();

} // namespace platform
