// A standard user's squat on the server's one-server lock: makes the mutex and the
// stop event under their Global\ names first, owned by Everyone (as a
// non-administrator's objects look to an owner check), holds the mutex, sets the
// event after a while, and keeps both until it ends.
// Usage: squatter SET_AFTER_SECONDS HOLD_SECONDS   Prints "ready" once both exist
// and "set" once the event is set; exit code 1 when it could not make them.
#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: squatter SET_AFTER_SECONDS HOLD_SECONDS\n");
        return 2;
    }
    PSECURITY_DESCRIPTOR everyone = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("O:WDD:(A;;GA;;;WD)", SDDL_REVISION_1, &everyone,
                                                              nullptr))
        return 1;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, everyone, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, TRUE, "Global\\punchvpn-server");
    bool mutexFirst = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
    HANDLE event = CreateEventA(&attributes, TRUE, FALSE, "Global\\punchvpn-server-stop");
    bool eventFirst = event && GetLastError() != ERROR_ALREADY_EXISTS;
    if (!mutexFirst || !eventFirst) {
        fprintf(stderr, "squatter: the names were taken already\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    Sleep(atoi(argv[1]) * 1000);
    SetEvent(event);
    printf("set\n");
    fflush(stdout);
    Sleep(atoi(argv[2]) * 1000);
    return 0;
}
