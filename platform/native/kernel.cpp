// The stand-in's named mutexes and events, GetLastError and the error mode. The
// machine's other processes are played by a test (control.h): they hold a mutex,
// end without letting it go, set an event or take it.
#include <windows.h>
#include <aclapi.h>

#include "control.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

enum Holder { NOBODY, HERE, ELSEWHERE };

struct NamedObject {
    bool mutex = false;
    Holder holder = NOBODY;  // a mutex's owner
    bool abandoned = false;  // its owner ended without letting it go
    bool manualReset = false;
    bool signalled = false;  // an event's state
    std::string security;    // the SDDL text it was made with; empty: the default
};

struct Kernel {
    std::map<std::string, NamedObject> objects;
    bool privateNamespaces = true;
    bool namespaceMade = false;
    DWORD lastError = 0;
    UINT errorMode = 0;
};

Kernel& kernel()
{
    static Kernel k;
    return k;
}

// The object of that name, made with `security` when missing. Sets the last error
// as Windows does: ERROR_ALREADY_EXISTS when it was there.
NamedObject* makeObject(LPCSTR name, bool mutex, SECURITY_ATTRIBUTES* attributes, bool& made)
{
    auto found = kernel().objects.find(name);
    made = found == kernel().objects.end();
    if (!made) {
        if (found->second.mutex != mutex) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        SetLastError(ERROR_ALREADY_EXISTS);
        return &found->second;
    }
    NamedObject& object = kernel().objects[name];
    object.mutex = mutex;
    if (attributes && attributes->lpSecurityDescriptor)
        object.security = static_cast<const char*>(attributes->lpSecurityDescriptor);
    SetLastError(0);
    return &object;
}

NamedObject& objectNamed(const std::string& name, bool mutex)
{
    NamedObject& object = kernel().objects[name];
    object.mutex = mutex;
    return object;
}

bool ready(const NamedObject& object)
{
    return object.mutex ? object.holder != ELSEWHERE : object.signalled;
}

// Takes a ready object as a wait does: a mutex becomes ours, an event resets unless
// it is a manual-reset one.
DWORD take(NamedObject& object)
{
    if (!object.mutex) {
        object.signalled = object.manualReset;
        return WAIT_OBJECT_0;
    }
    object.holder = HERE;
    bool abandoned = object.abandoned;
    object.abandoned = false;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

} // namespace

DWORD GetLastError() { return kernel().lastError; }
void SetLastError(DWORD error) { kernel().lastError = error; }

UINT SetErrorMode(UINT mode)
{
    UINT earlier = kernel().errorMode;
    kernel().errorMode = mode;
    return earlier;
}

HANDLE CreateMutexA(SECURITY_ATTRIBUTES* attributes, BOOL initialOwner, LPCSTR name)
{
    bool made;
    NamedObject* object = makeObject(name, true, attributes, made);
    if (object && made && initialOwner)
        object->holder = HERE;
    return object;
}

HANDLE CreateEventA(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    bool made;
    NamedObject* object = makeObject(name, false, attributes, made);
    if (object && made) {
        object->manualReset = manualReset;
        object->signalled = initialState;
    }
    return object;
}

// Sets an event's state; FALSE for a handle that is no event.
static BOOL signal(HANDLE event, bool signalled)
{
    NamedObject* object = static_cast<NamedObject*>(event);
    if (!object || object->mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->signalled = signalled;
    return TRUE;
}

BOOL SetEvent(HANDLE event) { return signal(event, true); }
BOOL ResetEvent(HANDLE event) { return signal(event, false); }

// Waits in steps of the clock, so that the processes a test plays act meanwhile (on
// the test clock a wait takes no real time).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    NamedObject* object = static_cast<NamedObject*>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    for (DWORD waited = 0;; ) {
        if (ready(*object))
            return take(*object);
        if (waited >= milliseconds)
            return WAIT_TIMEOUT;
        DWORD step = std::min<DWORD>(100, milliseconds - waited);
        Sleep(step);
        waited += step;
    }
}

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*, PACL*, PACL*,
                      PSECURITY_DESCRIPTOR* descriptor)
{
    NamedObject* object = static_cast<NamedObject*>(handle);
    if (!object)
        return ERROR_INVALID_HANDLE;
    std::string text = platform::ownerIn(object->security);
    char* copy = strdup(text.empty() ? "BA" : text.c_str());
    *owner = copy;
    *descriptor = copy;
    return ERROR_SUCCESS;
}

static const HANDLE BOUNDARY = reinterpret_cast<HANDLE>(0xB0);
static const HANDLE NAMESPACE = reinterpret_cast<HANDLE>(0xB1);

HANDLE CreateBoundaryDescriptorW(LPCWSTR, ULONG) { return kernel().privateNamespaces ? BOUNDARY : nullptr; }
BOOL AddSIDToBoundaryDescriptor(HANDLE* boundary, PSID) { return *boundary == BOUNDARY; }
void DeleteBoundaryDescriptor(HANDLE) {}

HANDLE CreatePrivateNamespaceW(SECURITY_ATTRIBUTES*, void* boundary, LPCWSTR)
{
    if (boundary != BOUNDARY || kernel().namespaceMade) {
        SetLastError(boundary != BOUNDARY ? ERROR_INVALID_HANDLE : ERROR_ALREADY_EXISTS);
        return nullptr;
    }
    kernel().namespaceMade = true;
    return NAMESPACE;
}

HANDLE OpenPrivateNamespaceW(void* boundary, LPCWSTR)
{
    return boundary == BOUNDARY && kernel().namespaceMade ? NAMESPACE : nullptr;
}

namespace platform {

void makeObjectElsewhere(const std::string& name, bool mutex, const std::string& security)
{
    NamedObject& object = objectNamed(name, mutex);
    object.security = security;
}

void withoutPrivateNamespaces() { kernel().privateNamespaces = false; }

void holdMutexElsewhere(const std::string& name) { objectNamed(name, true).holder = ELSEWHERE; }

void endHolderElsewhere(const std::string& name)
{
    NamedObject& object = objectNamed(name, true);
    if (object.holder == ELSEWHERE) {
        object.holder = NOBODY;
        object.abandoned = true;
    }
}

bool mutexHeldHere(const std::string& name)
{
    auto found = kernel().objects.find(name);
    return found != kernel().objects.end() && found->second.mutex && found->second.holder == HERE;
}

void setEventElsewhere(const std::string& name) { objectNamed(name, false).signalled = true; }

bool takeEventElsewhere(const std::string& name)
{
    auto found = kernel().objects.find(name);
    if (found == kernel().objects.end() || found->second.mutex || !found->second.signalled)
        return false;
    take(found->second);
    return true;
}

bool objectExists(const std::string& name) { return kernel().objects.count(name) > 0; }

std::string objectSecurity(const std::string& name)
{
    auto found = kernel().objects.find(name);
    return found == kernel().objects.end() ? "" : found->second.security;
}

unsigned errorMode() { return kernel().errorMode; }

void resetKernel() { kernel() = Kernel{}; }

} // namespace platform
