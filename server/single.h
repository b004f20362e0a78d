// One server at a time on this computer. The running server holds a named mutex,
// which servers in every session see (the one Task Scheduler starts at boot runs in
// session 0), and watches a stop event beside it. A second start asks the user
// whether to stop the running one; "server.exe /stop", which the installer and the
// uninstaller run, stops it through the same event.
//
// Both live in a private namespace bound to the Administrators, where no other user
// can make them first. Where Windows has no private namespaces (Wine), they take
// Global\ names, where anybody can: there an object of the name that is not owned by
// SYSTEM or the Administrators is ignored, so that it neither stops nor holds back
// the server (which then runs without it).
#pragma once

#include <windows.h>

#define LOCK_NAMESPACE "punchvpn"
#define SERVER_MUTEX LOCK_NAMESPACE "\\server"
#define STOP_EVENT LOCK_NAMESPACE "\\server-stop"
#define GLOBAL_SERVER_MUTEX "Global\\punchvpn-server"
#define GLOBAL_STOP_EVENT "Global\\punchvpn-server-stop"

// Makes this process the computer's one server. When another holds the mutex: a
// server started by a user is asked whether to stop that one and go on here (Yes
// sets the stop event and waits until it has ended); the unattended one logs that
// another runs. False when this start ends here (exit code 0).
bool becomeTheServer();

// server.exe /stop: asks the running server to stop, as the uninstaller does, and
// waits until it has ended. 0 when no server runs any more, 1 when it did not stop
// within 30 seconds, or cannot be reached (another user made the mutex or the
// event under its Global\ name).
int stopTheServer();

// Checks for the stop event twice a second while the dialog runs; when it is set,
// the dialog ends as on Cancel.
void watchStopRequests(HWND dialog);
