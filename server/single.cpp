#include "single.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "server/sealed.h"
#include "server/unattended.h"

static HANDLE serverMutex;
static HANDLE stopEvent;
static HANDLE lockNamespace;

// SYSTEM and the Administrators may do anything with the namespace, the mutex and
// the event: a server started elevated in another session, and the installers, open
// and signal what the server at boot (SYSTEM) made, and the other way round. The
// Administrators own them, so that an object of these names that someone else made
// is told apart.
static const char OBJECT_SECURITY[] = "O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)";
static const wchar_t NAMESPACE_PREFIX[] = L"" LOCK_NAMESPACE;
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

// Opens the private namespace that only members of the Administrators (SYSTEM among
// them) may make or open, making it when none is there; it stays open while the
// program runs. False where Windows has none (Wine).
static bool openLockNamespace(SECURITY_ATTRIBUTES* attributes)
{
    HANDLE boundary = CreateBoundaryDescriptorW(NAMESPACE_PREFIX, 0);
    if (!boundary)
        return false;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
        AddSIDToBoundaryDescriptor(&boundary, administrators)) {
        // Another server may make it, or close it, between the two calls.
        for (int attempt = 0; attempt < 3 && !lockNamespace; ++attempt) {
            lockNamespace = CreatePrivateNamespaceW(attributes, boundary, NAMESPACE_PREFIX);
            if (!lockNamespace && GetLastError() == ERROR_ALREADY_EXISTS)
                lockNamespace = OpenPrivateNamespaceW(boundary, NAMESPACE_PREFIX);
        }
    }
    DeleteBoundaryDescriptor(boundary);
    return lockNamespace != nullptr;
}

// The object, unless another user made it first: only SYSTEM and the Administrators
// can own one of ours, and anybody can make an object under a Global\ name.
static HANDLE unlessSquatted(HANDLE object, const char* name)
{
    if (!object || GetLastError() != ERROR_ALREADY_EXISTS)
        return object;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool ours = GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor) == ERROR_SUCCESS &&
                ownedByAdministrators(owner);
    LocalFree(descriptor);
    if (ours)
        return object;
    CloseHandle(object);
    if (unattended)
        logLine((std::string(name) + " was made by another user, not an administrator: "
                                     "this server does without it")
                    .c_str());
    return nullptr;
}

// The mutex and the event in the private namespace; where there is none, under their
// Global\ names, each as long as no other user made it (else it stays null). False
// when neither could be tried.
static bool makeObjects()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(OBJECT_SECURITY, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    bool named = lockNamespace || openLockNamespace(&attributes);
    const char* mutexName = named ? SERVER_MUTEX : GLOBAL_SERVER_MUTEX;
    const char* eventName = named ? STOP_EVENT : GLOBAL_STOP_EVENT;
    serverMutex = unlessSquatted(CreateMutexA(&attributes, FALSE, mutexName), mutexName);
    stopEvent = unlessSquatted(CreateEventA(&attributes, FALSE, FALSE, eventName), eventName);
    LocalFree(descriptor);
    return true;
}

// Takes the mutex within the time. An abandoned one counts: its server ended
// without letting it go.
static bool takeMutex(DWORD milliseconds)
{
    DWORD result = WaitForSingleObject(serverMutex, milliseconds);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        return false;
    if (stopEvent)
        ResetEvent(stopEvent); // a request to the server before this one is not for it
    return true;
}

bool becomeTheServer()
{
    // Without its mutex (not expected for an administrator, or another user made
    // one of its name) the server runs as it did before there was one.
    if (!makeObjects() || !serverMutex)
        return true;
    if (takeMutex(0))
        return true;
    if (unattended) {
        logLine("another server is running on this computer; this one ends");
        return false;
    }
    if (MessageBoxA(nullptr, RUNNING_TEXT, CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    if (stopEvent)
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
    // Where another user made the mutex or the event (only without private
    // namespaces), a running server cannot be seen or reached through them: not
    // "none runs".
    if (!serverMutex || !stopEvent)
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
