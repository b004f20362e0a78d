// server.exe /auto: the server that Task Scheduler starts when Windows starts, as
// SYSTEM and before anyone logs on, where nobody sees its window. It starts as
// always, then fills Name and Password from the sealed file and sends itself
// Connect; from there it works as when a user pressed Connect. It never shows a
// message box, and since nobody sees its status line, it logs each status text
// with the time in the data folder (unattended.log, bounded in size).
#pragma once

#include <windows.h>

#define LOG_FILE_NAME "unattended.log"

// Started with /auto.
extern bool unattended;

// The first steps of /auto: no message box from Windows either, and the sealed name
// and password read. False (a log line, exit code 2) when they cannot be read.
bool beginUnattended(int& exitCode);

// At the dialog's start, when unattended: fills Name and Password and sends Connect.
void connectUnattended(HWND dialog);

// When unattended: logs a status text (a line break in it as a blank).
void logStatus(const char* text);

// Appends a line with the date and time to the log. When the log has grown to its
// bound, it becomes unattended.log.old (replacing the one before) and a new one
// begins.
void logLine(const char* text);
