// The stop command: "stop NAME" ends every running process whose image is
// NAME.exe and waits briefly until they are gone. The client starts it as
// "stop openvpn" when its link is lost, so that the next Connect finds the punch
// port free. It has no window; its messages go to the standard error stream.
//
// Exit codes: 0 when no such process is left (also when none ran), 1 when one
// could not be ended in time, 2 without a name.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#define STOP_WAIT_MS 5000

// NAME, or NAME.exe when it names no image already.
static std::string imageName(const char* name)
{
    std::string image = name;
    if (image.size() < 4 || _stricmp(image.c_str() + image.size() - 4, ".exe") != 0)
        image += ".exe";
    return image;
}

// Terminates every other process of that image; returns handles to wait on.
// A process that cannot be opened for ending is counted in unreachable.
static std::vector<HANDLE> terminateAll(const std::string& image, int& unreachable)
{
    std::vector<HANDLE> ended;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ended;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, image.c_str()) != 0 || entry.th32ProcessID == GetCurrentProcessId())
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process && TerminateProcess(process, 1)) {
            ended.push_back(process);
        } else {
            unreachable++;
            if (process)
                CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return ended;
}

// Waits until every ended process is gone, for at most STOP_WAIT_MS in all.
// Returns how many are still there.
static int waitUntilGone(const std::vector<HANDLE>& ended)
{
    DWORD deadline = GetTickCount() + STOP_WAIT_MS;
    int left = 0;
    for (HANDLE process : ended) {
        DWORD now = GetTickCount();
        DWORD remaining = static_cast<int>(deadline - now) > 0 ? deadline - now : 0;
        if (WaitForSingleObject(process, remaining) != WAIT_OBJECT_0)
            left++;
        CloseHandle(process);
    }
    return left;
}

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '\0') {
        fprintf(stderr, "usage: stop NAME   (ends every running NAME.exe)\n");
        return 2;
    }
    std::string image = imageName(argv[1]);
    int unreachable = 0;
    int left = waitUntilGone(terminateAll(image, unreachable)) + unreachable;
    if (left > 0) {
        fprintf(stderr, "stop: %d process(es) of %s could not be ended\n", left, image.c_str());
        return 1;
    }
    return 0;
}
