#include "control.h"

#include <cstdio>
#include <cstring>

#include "common/values.h"
#include "monitor/monitor.h"
#include "rendezvous/message.h"
#include "rendezvous/openvpn.h"
#include "server/punch.h"
#include "server/register.h"
#include "server/single.h"
#include "server/unattended.h"
#include "shell/resource.h"
#include "udp/udp.h"

char userName[20];
char password[20];
int heartbeat;
int active;
int requested;
int requestWait;
int missedBeats;
int connected;
int probeSocket = -1;
uint32_t peerTunnelIp;

static const UINT_PTR MONITOR_TIMER = 1;
static const UINT TICK_PERIOD = 1000;
static const UINT CENTRAL_RETRY_PERIOD = 10000;
static const int PROBE_SIZE = 50;
static const int REQUEST_WAIT_TICKS = 30; // the 32nd tick without a request registers again
static const int LOST_WHEN_CONNECTED = 7;
static const int LOST_BEFORE_CONNECTED = 30;
static const char* CONNECTED_TEXT = "CONNECTED\nSERVER:10.8.0.1  CLIENT:10.8.0.2";
// "ClIENT" with a small l is kept: users know the recovery text by it.
static const char* RECOVERY_TEXT = "CONNECTED\nSERVER:10.8.0.1  ClIENT:10.8.0.2";

// Shows a status text; the unattended server, whose window nobody sees, logs it too.
static void showServerStatus(HWND dialog, const char* text)
{
    showStatus(dialog, text);
    logStatus(text);
}

// Connect sent by the dialog to itself; it runs at once, nested in the caller.
static void sendConnect(HWND dialog)
{
    SendMessageA(dialog, WM_COMMAND, CONNECT_BUTTON, 0);
}

static void connectPressed(HWND dialog)
{
    if (active)
        return;
    requested = requestWait = missedBeats = connected = 0;
    GetDlgItemTextA(dialog, NAME_FIELD, userName, FIELD_SIZE);
    GetDlgItemTextA(dialog, PASSWORD_FIELD, password, FIELD_SIZE);
    if (!userName[0] || !password[0])
        return;
    // The server's own OpenVPN does not read this file; a failure changes nothing here.
    writeUserNamePassword(userName, password);
    if (openPunchSocket() == -1) {
        showServerStatus(dialog, "FAIL TO OPEN PORT");
        SetTimer(dialog, MONITOR_TIMER, TICK_PERIOD, nullptr);
        return;
    }
    drainMessages();
    showServerStatus(dialog, "REPORT TO CENTRAL");
    switch (registerName(userName)) {
    case -1:
        showServerStatus(dialog, "CENTRAL TIMEOUT");
        SetTimer(dialog, MONITOR_TIMER, CENTRAL_RETRY_PERIOD, nullptr);
        break;
    case 0:
        showServerStatus(dialog, "NAME HAS BEEN USED");
        break;
    default:
        active = 1;
        showServerStatus(dialog, "WAIT FOR REQUEST");
        SetTimer(dialog, MONITOR_TIMER, TICK_PERIOD, nullptr);
    }
}

static void disconnectPressed(HWND dialog)
{
    endOpenVpn();
    showServerStatus(dialog, "IDLE");
    KillTimer(dialog, MONITOR_TIMER);
    active = 0;
}

static int takeProbes(bool& wrongPassword);

// The probe socket stays open from one tunnel to the next; probes still queued there
// came through an earlier tunnel and must not count for the new one (a client with
// the wrong password would show as connected for a tick).
static void dropStaleProbes()
{
    bool ignored;
    if (probeSocket != -1)
        takeProbes(ignored);
}

// The follow-up of a client's request: punch, then start OpenVPN or register again.
static void answerRequest(HWND dialog)
{
    requested = 1;
    showServerStatus(dialog, "REQUEST FROM CLIENT");
    KillTimer(dialog, MONITOR_TIMER);
    if (punchToClient() == -1) {
        active = 0;
        sendConnect(dialog);
        return;
    }
    SetTimer(dialog, MONITOR_TIMER, TICK_PERIOD, nullptr);
    showServerStatus(dialog, "START OPENVPN");
    dropStaleProbes();
    startCommand(SERVER_OPENVPN_COMMAND, SW_HIDE);
}

static void waitForRequest(HWND dialog)
{
    if (requestArrived()) {
        answerRequest(dialog);
        return;
    }
    if (requestWait++ > REQUEST_WAIT_TICKS) {
        KillTimer(dialog, MONITOR_TIMER);
        active = 0;
        sendConnect(dialog);
    }
}

// Takes in every queued probe. Gives the count; wrongPassword is set when any of
// them does not begin with the password.
static int takeProbes(bool& wrongPassword)
{
    char buffer[100];
    int count = 0;
    uint32_t ip;
    uint16_t port;
    int size = sizeof buffer;
    wrongPassword = false;
    while (udpReceive(probeSocket, buffer, size, ip, port)) {
        if (strncmp(buffer, password, strlen(password)) != 0)
            wrongPassword = true;
        ++count;
        size = sizeof buffer;
    }
    return count;
}

static void endTunnel(HWND dialog, const char* text)
{
    showServerStatus(dialog, text);
    endOpenVpn();
    active = 0; // the next tick registers the name again
}

static void watchTunnel(HWND dialog)
{
    if (!openProbeSocket(probeSocket))
        return;
    char probe[PROBE_SIZE];
    memset(probe, 0, sizeof probe);
    udpSend(probeSocket, probe, PROBE_SIZE, peerTunnelIp, PROBE_PORT);

    bool wrongPassword;
    int count = takeProbes(wrongPassword);
    if (wrongPassword) {
        endTunnel(dialog, "WRONG PASSWORD");
    } else if (count > 0) {
        if (missedBeats)
            showServerStatus(dialog, RECOVERY_TEXT);
        else if (!connected) {
            showServerStatus(dialog, CONNECTED_TEXT);
            connected = 1;
        }
        missedBeats = 0;
    } else {
        ++missedBeats;
        if (!connected && missedBeats < LOST_BEFORE_CONNECTED)
            return;
        if (connected && missedBeats < LOST_WHEN_CONNECTED)
            showServerStatus(dialog, "");
        else
            endTunnel(dialog, connected ? "CONNECTION BROKEN" : "TIME OUT");
    }
}

static void tick(HWND dialog)
{
    showHeartbeat(dialog, heartbeat);
    if (!active) {
        KillTimer(dialog, MONITOR_TIMER);
        sendConnect(dialog);
    } else if (!requested) {
        waitForRequest(dialog);
    } else {
        watchTunnel(dialog);
    }
}

INT_PTR CALLBACK controlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, STATUS_LINE, "IDLE");
        logStatus("IDLE");
        watchStopRequests(dialog);
        connectUnattended(dialog);
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
