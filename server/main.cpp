// The server's entry: hands over to the window shell, which runs the control
// dialog, and returns the exit code of the message loop.
#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand)
{
    (void)previousInstance;
    (void)commandLine;
    LoadStringA(instance, TITLE_STRING, windowTitle, WINDOW_TEXT_SIZE);
    LoadStringA(instance, CLASS_NAME_STRING, windowClassName, WINDOW_TEXT_SIZE);
    registerMainWindowClass(instance);
    if (!createMainWindow(instance, showCommand))
        return 0;
    return runMessageLoop(instance);
}
