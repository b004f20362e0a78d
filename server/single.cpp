#include "single.h"

#include <sddl.h>

#include "server/unattended.h"

static HANDLE serverMutex;
static HANDLE stopEvent;

// SYSTEM and the Administrators may do anything with the mutex and the event: a
// server started elevated in another session, and the uninstaller, open and signal
// what the server at boot (SYSTEM) made, and the other way round.
static const char OBJECT_SECURITY[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)";
// Long enough for a server inside its longest block (punching, seven seconds).
static const DWORD STOP_WAIT_MS = 30000;
static const UINT_PTR STOP_TIMER = 2;
static const UINT STOP_CHECK_PERIOD = 500;
static const char CAPTION[] = "punchvpn server";
static const char RUNNING_TEXT[] =
    "The punchvpn server is already running on this computer: the one that starts "
    "with Windows, or one started before.\n\nStop it and continue here?";
static const char NOT_STOPPED_TEXT[] =
    "The running punchvpn server did not stop within 30 seconds. Try again later.";

static bool makeObjects()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(OBJECT_SECURITY, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    serverMutex = CreateMutexA(&attributes, FALSE, SERVER_MUTEX);
    stopEvent = CreateEventA(&attributes, FALSE, FALSE, STOP_EVENT);
    LocalFree(descriptor);
    return serverMutex && stopEvent;
}

// Takes the mutex within the time. An abandoned one counts: its server ended
// without letting it go.
static bool takeMutex(DWORD milliseconds)
{
    DWORD result = WaitForSingleObject(serverMutex, milliseconds);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        return false;
    ResetEvent(stopEvent); // a request to the server before this one is not for it
    return true;
}

bool becomeTheServer()
{
    // Not expected for an administrator; without them the server runs as it did
    // before there were any.
    if (!makeObjects())
        return true;
    if (takeMutex(0))
        return true;
    if (unattended) {
        logLine("another server is running on this computer; this one ends");
        return false;
    }
    if (MessageBoxA(nullptr, RUNNING_TEXT, CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    SetEvent(stopEvent);
    if (takeMutex(STOP_WAIT_MS))
        return true;
    MessageBoxA(nullptr, NOT_STOPPED_TEXT, CAPTION, MB_OK | MB_ICONEXCLAMATION);
    return false;
}

int stopTheServer()
{
    if (!makeObjects())
        return 1;
    if (takeMutex(0))
        return 0;
    SetEvent(stopEvent);
    return takeMutex(STOP_WAIT_MS) ? 0 : 1;
}

static void CALLBACK checkStopRequest(HWND dialog, UINT, UINT_PTR, DWORD)
{
    if (WaitForSingleObject(stopEvent, 0) != WAIT_OBJECT_0)
        return;
    if (unattended)
        logLine("asked to stop; ends as on Cancel");
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

void watchStopRequests(HWND dialog)
{
    if (stopEvent)
        SetTimer(dialog, STOP_TIMER, STOP_CHECK_PERIOD, checkStopRequest);
}
