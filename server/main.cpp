// The server's entry: start-up (by its command line), then the window shell, which
// runs the control dialog until Cancel, then the exit path.
#include "server/startup.h"
#include "server/unattended.h"
#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    int exitCode = 0;
    if (!prepareServer(commandLine, exitCode))
        return exitCode;
    LoadStringA(instance, TITLE_STRING, windowTitle, WINDOW_TEXT_SIZE);
    LoadStringA(instance, CLASS_NAME_STRING, windowClassName, WINDOW_TEXT_SIZE);
    registerMainWindowClass(instance);
    if (!createMainWindow(instance, showCommand))
        return unattended ? 1 : 0; // a failure Task Scheduler sees, for the unattended one
    exitCode = runMessageLoop(instance);
    stopServer();
    return exitCode;
}
