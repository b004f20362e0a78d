// The hidden main window: its class, its creation with the control dialog run
// modally under it, and its window procedure.
#include "shell/shell.h"

HINSTANCE programInstance;
char windowTitle[WINDOW_TEXT_SIZE];
char windowClassName[WINDOW_TEXT_SIZE];

ATOM registerMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(LARGE_ICON));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(MAIN_MENU);
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(SMALL_ICON));
    return RegisterClassExA(&windowClass);
}

// Creates the main window, never shown, and runs the control dialog modally as
// its owned window. Returns when the dialog has ended; false when no main window
// could be created (then no dialog ran).
bool createMainWindow(HINSTANCE instance, int showCommand)
{
    (void)showCommand;
    programInstance = instance;
    HWND mainWindow = CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                      nullptr, nullptr, instance, nullptr);
    if (!mainWindow)
        return false;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(CONTROL_DIALOG), mainWindow, controlDialogProc, 0);
    return true;
}

// The greeting, centred across the top line of the client area.
static void paintGreeting(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT clientArea;
    GetClientRect(window, &clientArea);
    char greeting[WINDOW_TEXT_SIZE];
    LoadStringA(programInstance, GREETING_STRING, greeting, sizeof greeting);
    DrawTextA(dc, greeting, -1, &clientArea, DT_CENTER);
    EndPaint(window, &paint);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case COMMAND_ABOUT:
            DialogBoxParamA(programInstance, MAKEINTRESOURCEA(ABOUT_BOX), window, aboutBoxProc, 0);
            return 0;
        case COMMAND_EXIT:
            DestroyWindow(window);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_PAINT:
        paintGreeting(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
