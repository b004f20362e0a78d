#include "monitor.h"

#include <cstdio>

#include "shell/resource.h"
#include "udp/udp.h"

void showStatus(HWND dialog, const char* text)
{
    SetDlgItemTextA(dialog, STATUS_LINE, text);
    UpdateWindow(GetDlgItem(dialog, STATUS_LINE));
}

void showHeartbeat(HWND dialog, int& heartbeat)
{
    char text[12];
    snprintf(text, sizeof text, "%d", heartbeat % 100);
    SetDlgItemTextA(dialog, HEARTBEAT_FIELD, text);
    ++heartbeat;
}

bool openProbeSocket(int& probeSocket)
{
    if (probeSocket != -1)
        return true;
    probeSocket = udpOpenTunnel();
    if (probeSocket == -1)
        return false;
    udpNonBlocking(probeSocket);
    return true;
}
