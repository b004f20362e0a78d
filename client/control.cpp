#include "control.h"

#include <cstdio>
#include <cstring>

#include "client/cc.h"
#include "common/values.h"
#include "monitor/monitor.h"
#include "rendezvous/openvpn.h"
#include "shell/resource.h"
#include "udp/udp.h"

char userName[FIELD_SIZE];
char password[FIELD_SIZE];
int active;
int connected;
int missedBeats;
int answeredBeats;
int explorerOpened;
int heartbeat;
int probeSocket = -1;
uint32_t peerTunnelIp;

static const UINT_PTR MONITOR_TIMER = 1;
static const UINT MONITOR_PERIOD = 1000;
static const int PROBE_SIZE = 50;
static const int LOST_WHEN_CONNECTED = 10;
static const int LOST_BEFORE_CONNECTED = 20;
static const int STEADY_BEATS = 11; // the folders open on the 12th answered tick
static const char* CONNECTED_TEXT = "CONNECTED\nSERVER:10.8.0.1  CLIENT:10.8.0.2";

// Takes in everything queued on the probe socket; gives how many datagrams came.
static int takeProbes()
{
    char buffer[100];
    int count = 0;
    uint32_t ip;
    uint16_t port;
    int size = sizeof buffer;
    while (udpReceive(probeSocket, buffer, size, ip, port)) {
        ++count;
        size = sizeof buffer;
    }
    return count;
}

static void connectPressed(HWND dialog)
{
    if (active)
        return;
    connected = missedBeats = answeredBeats = explorerOpened = 0;
    GetDlgItemTextA(dialog, NAME_FIELD, userName, FIELD_SIZE);
    if (!userName[0])
        return;
    GetDlgItemTextA(dialog, PASSWORD_FIELD, password, FIELD_SIZE);
    if (!password[0])
        return;
    // OpenVPN reads its credentials from this file: without it nothing can work.
    if (!writeUserNamePassword(userName, password)) {
        showStatus(dialog, "SERVER NOT READY");
        return;
    }
    showStatus(dialog, "CONNECTING");
    if (connectToServer(userName) == -1) {
        showStatus(dialog, "SERVER NOT READY");
        return;
    }
    showStatus(dialog, "START OPENVPN");
    SetTimer(dialog, MONITOR_TIMER, MONITOR_PERIOD, nullptr);
    active = 1;
    if (probeSocket != -1)
        takeProbes(); // leftovers of an earlier tunnel must not count
}

static void disconnectPressed(HWND dialog)
{
    if (!active)
        return;
    KillTimer(dialog, MONITOR_TIMER);
    endOpenVpn();
    showStatus(dialog, "IDLE");
    active = connected = missedBeats = 0;
}

// The probe carries the password at its very start; the server checks it.
static void sendProbe()
{
    char probe[PROBE_SIZE];
    memset(probe, 0, sizeof probe);
    memcpy(probe, password, strlen(password) + 1);
    udpSend(probeSocket, probe, PROBE_SIZE, peerTunnelIp, PROBE_PORT);
}

static void answeredTick(HWND dialog)
{
    if (!connected) {
        showStatus(dialog, CONNECTED_TEXT);
        connected = 1;
    }
    missedBeats = 0;
    if (answeredBeats++ >= STEADY_BEATS && !explorerOpened) {
        system(EXPLORER_COMMAND);
        explorerOpened = 1;
    }
}

static void missedTick(HWND dialog)
{
    answeredBeats = 0;
    ++missedBeats;
    if (connected && missedBeats >= LOST_WHEN_CONNECTED)
        showStatus(dialog, "DISCONNECTED");
    else if (!connected && missedBeats >= LOST_BEFORE_CONNECTED)
        showStatus(dialog, "TIMEOUT");
    else
        return;
    KillTimer(dialog, MONITOR_TIMER);
    startCommand(STOP_COMMAND, SW_HIDE);
    active = 0;
}

static void tick(HWND dialog)
{
    showHeartbeat(dialog, heartbeat);
    if (!openProbeSocket(probeSocket))
        return;
    sendProbe();
    if (takeProbes() > 0)
        answeredTick(dialog);
    else
        missedTick(dialog);
}

INT_PTR CALLBACK controlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, STATUS_LINE, "IDLE");
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            PostQuitMessage(0);
            return TRUE;
        case CONNECT_BUTTON:
            connectPressed(dialog);
            break;
        case DISCONNECT_BUTTON:
            disconnectPressed(dialog);
            break;
        }
        return FALSE;
    case WM_TIMER:
        tick(dialog);
        return FALSE;
    }
    return FALSE;
}
