// The server's entry: start-up, then the window shell, which runs the control
// dialog until Cancel, then the exit path.
#include "server/startup.h"
#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    if (!startServer())
        return 0;
    LoadStringA(instance, TITLE_STRING, windowTitle, WINDOW_TEXT_SIZE);
    LoadStringA(instance, CLASS_NAME_STRING, windowClassName, WINDOW_TEXT_SIZE);
    registerMainWindowClass(instance);
    if (!createMainWindow(instance, showCommand))
        return 0;
    int exitCode = runMessageLoop(instance);
    stopServer();
    return exitCode;
}
