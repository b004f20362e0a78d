// The program's message loop, with the main window's accelerator table.
#include "shell/shell.h"

// Dispatches every message of the thread until the quit message and returns its
// exit code. GetMessageA fails (-1) only on bad arguments; the loop ends then too
// rather than spin on a message it never got.
int runMessageLoop(HINSTANCE instance)
{
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(MAIN_ACCELERATORS));
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
