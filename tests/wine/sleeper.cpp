// A Windows process that only waits. Started under other image names, it gives
// the stop command something to end; given a caption, it first shows a window
// of that caption with a status line (control 1005) and then answers no message,
// like a dialog inside a busy-wait.
// Usage: sleeper [SECONDS [CAPTION]]   (60 s by default). Prints "ready" once it runs.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "shell/resource.h"

static void showUnansweringWindow(const char* caption)
{
    HWND window = CreateWindowExA(0, "STATIC", caption, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  0, 0, 300, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    CreateWindowExA(0, "STATIC", "BUSY", WS_CHILD | WS_VISIBLE, 10, 10, 100, 20, window,
                    reinterpret_cast<HMENU>(STATUS_LINE), GetModuleHandleA(nullptr), nullptr);
}

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 60;
    if (argc > 2)
        showUnansweringWindow(argv[2]);
    printf("ready\n");
    fflush(stdout);
    Sleep(seconds * 1000);
    return 0;
}
