// What both programs' control dialogs and tunnel monitors do alike: show a status
// text at once, count the heartbeat, and open the probe socket on the tunnel.
#pragma once

#include <windows.h>

// Sets the status line and paints it at once: while the program busy-waits the
// dialog handles no messages, so a text left to the next paint would not show.
void showStatus(HWND dialog, const char* text);

// Shows the heartbeat modulo 100 in the heartbeat field, then counts it up.
void showHeartbeat(HWND dialog, int& heartbeat);

// Opens the probe socket, non-blocking, once the program's tunnel address exists;
// false while it does not (OpenVPN has not brought the tunnel up yet).
bool openProbeSocket(int& probeSocket);
