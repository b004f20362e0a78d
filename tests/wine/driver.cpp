// The dialog driver: finds a window of a running program by its caption (or its
// class), reads and sets control texts, presses buttons, sends commands and keys,
// and takes screenshots, with timeouts throughout, since a dialog inside a
// busy-wait answers no message. Used by the Wine tests and the lab.
//
// usage: driver COMMAND ARGS...     (WINDOW is a caption, or class=NAME)
//   find WINDOW                     print the window's handle
//   wait WINDOW TIMEOUT_MS          wait until the window exists and is visible
//   gone WINDOW TIMEOUT_MS          wait until no such window exists
//   visible WINDOW                  exit 0 if visible, 4 if hidden
//   get WINDOW ID                   print the text of control ID
//   status WINDOW                   print the status line (control 1005)
//   expect WINDOW ID TEXT TIMEOUT_MS  wait until control ID shows TEXT (\n, \r, \\ escapes)
//   set WINDOW ID TEXT              set the text of control ID
//   press WINDOW ID                 post the click of button ID (does not wait for it)
//   click WINDOW ID                 post a mouse click to control ID (a check box toggles)
//   command CLASSNAME ID            post WM_COMMAND ID to the top-level window of that class
//   key WINDOW escape|enter|tab     post a key press to the window's focused control
//   close WINDOW                    post the close box's command
//   controls WINDOW                 print "client W H", then per child window
//                                   "ID CLASS X Y W H STYLE TEXT" (pixels, client coordinates)
//   rect WINDOW ID                  print "X Y W H" of control ID (pixels, client coordinates)
//   screenshot WINDOW FILE.bmp      save what the window shows on the screen
//
// Exit codes: 0 done, 1 window or control not found, 2 bad command line,
// 3 timeout (no answer in time, or the awaited state did not come), 4 "no".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/resource.h"

enum ExitCode { DONE = 0, NOT_FOUND = 1, USAGE = 2, TIMEOUT = 3, NO = 4 };

// How long a window may take to answer one message.
#define ANSWER_MS 3000
#define POLL_MS 100
#define TEXT_SIZE 1024

static HWND findWindow(const char* window)
{
    if (strncmp(window, "class=", 6) == 0)
        return FindWindowA(window + 6, nullptr);
    return FindWindowA(nullptr, window);
}

static int notFound(const char* what)
{
    fprintf(stderr, "driver: %s not found\n", what);
    return NOT_FOUND;
}

static int noAnswer()
{
    fprintf(stderr, "driver: no answer within %d ms\n", ANSWER_MS);
    return TIMEOUT;
}

// Reads a window's text through its owner's message queue; false on no answer.
static bool readText(HWND control, std::string& text)
{
    char buffer[TEXT_SIZE] = "";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, ANSWER_MS, &length))
        return false;
    text.assign(buffer, length);
    return true;
}

static std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            char code[8];
            snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(c));
            out += code;
        } else out += c;
    }
    return out;
}

static std::string unescaped(const char* text)
{
    std::string out;
    for (const char* p = text; *p; p++) {
        if (*p != '\\' || !p[1]) { out += *p; continue; }
        p++;
        out += *p == 'n' ? '\n' : *p == 'r' ? '\r' : *p;
    }
    return out;
}

struct ControlSearch {
    int id;
    HWND found;
};

static BOOL CALLBACK matchControl(HWND child, LPARAM search)
{
    ControlSearch* wanted = reinterpret_cast<ControlSearch*>(search);
    if (static_cast<WORD>(GetDlgCtrlID(child)) != wanted->id)
        return TRUE;
    wanted->found = child;
    return FALSE;
}

// Control ID of the window, or of a window inside it (an installer's page is a dialog
// within its window).
static HWND controlOf(HWND window, int id)
{
    ControlSearch search = {id, GetDlgItem(window, id)};
    if (!search.found)
        EnumChildWindows(window, matchControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A control's place in its window's client area, in pixels.
static RECT placeOf(HWND control, HWND window)
{
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

// Waits until the window exists (and is visible) or, with wanted false, until it
// is gone.
static int waitFor(const char* window, int timeout, bool wanted)
{
    for (DWORD start = GetTickCount();; Sleep(POLL_MS)) {
        HWND found = findWindow(window);
        if ((found && IsWindowVisible(found)) == wanted)
            return DONE;
        if (GetTickCount() - start >= static_cast<DWORD>(timeout))
            return TIMEOUT;
    }
}

static int expectText(HWND control, const char* wanted, int timeout)
{
    std::string expected = unescaped(wanted), text;
    for (DWORD start = GetTickCount();; Sleep(POLL_MS)) {
        bool answered = readText(control, text);
        if (answered && text == expected)
            return DONE;
        if (GetTickCount() - start >= static_cast<DWORD>(timeout)) {
            printf("%s\n", answered ? escaped(text).c_str() : "(no answer)");
            return TIMEOUT;
        }
    }
}

static int listControls(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    printf("client %ld %ld\n", client.right, client.bottom);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[64] = "";
        GetClassNameA(child, className, sizeof className);
        std::string text;
        if (!readText(child, text))
            return noAnswer();
        RECT place = placeOf(child, window);
        printf("%d %s %ld %ld %ld %ld 0x%08lx %s\n", static_cast<short>(GetDlgCtrlID(child)), className,
               place.left, place.top, place.right - place.left, place.bottom - place.top,
               static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)), escaped(text).c_str());
    }
    return DONE;
}

static bool writeBitmap(const char* path, int width, int height, const void* pixels)
{
    int rowSize = (width * 3 + 3) & ~3;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = rowSize * height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    FILE* out = fopen(path, "wb");
    if (!out)
        return false;
    bool written = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&info, sizeof info, 1, out) == 1
                   && fwrite(pixels, info.biSizeImage, 1, out) == 1;
    return fclose(out) == 0 && written;
}

// Copies the window's rectangle from the screen, so it shows what the user sees.
static int screenshot(HWND window, const char* path)
{
    RECT frame;
    GetWindowRect(window, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* pixels = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool copied = BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    GdiFlush();
    bool written = copied && writeBitmap(path, width, height, pixels);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!written) {
        fprintf(stderr, "driver: cannot save %s\n", path);
        return NOT_FOUND;
    }
    return DONE;
}

static int pressKey(HWND window, const char* name)
{
    WORD key = !strcmp(name, "escape") ? VK_ESCAPE : !strcmp(name, "enter") ? VK_RETURN
             : !strcmp(name, "tab") ? VK_TAB : 0;
    if (!key) {
        fprintf(stderr, "driver: unknown key %s (escape, enter or tab)\n", name);
        return USAGE;
    }
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread);
    HWND target = thread.hwndFocus ? thread.hwndFocus : window;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
    return DONE;
}

// The commands that work on one control of a window.
static int controlCommand(const char* command, HWND window, HWND control, char** argv)
{
    std::string text;
    if (!strcmp(command, "get") || !strcmp(command, "status")) {
        if (!readText(control, text))
            return noAnswer();
        printf("%s\n", text.c_str());
        return DONE;
    }
    if (!strcmp(command, "expect"))
        return expectText(control, argv[4], atoi(argv[5]));
    if (!strcmp(command, "set")) {
        DWORD_PTR result;
        return SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]),
                                   SMTO_ABORTIFHUNG, ANSWER_MS, &result) ? DONE : noAnswer();
    }
    if (!strcmp(command, "press")) {
        PostMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
        return DONE;
    }
    if (!strcmp(command, "click")) {
        PostMessageA(control, BM_CLICK, 0, 0);
        return DONE;
    }
    RECT place = placeOf(control, window);  // rect
    printf("%ld %ld %ld %ld\n", place.left, place.top, place.right - place.left, place.bottom - place.top);
    return DONE;
}

static int windowCommand(const char* command, HWND window, char** argv)
{
    if (!strcmp(command, "find")) {
        printf("%p\n", static_cast<void*>(window));
        return DONE;
    }
    if (!strcmp(command, "visible"))
        return IsWindowVisible(window) ? DONE : NO;
    if (!strcmp(command, "key"))
        return pressKey(window, argv[3]);
    if (!strcmp(command, "close")) {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return DONE;
    }
    if (!strcmp(command, "controls"))
        return listControls(window);
    if (!strcmp(command, "screenshot"))
        return screenshot(window, argv[3]);
    // Template ids are words: -1 (the id of labels) is 0xFFFF.
    int id = !strcmp(command, "status") ? STATUS_LINE : static_cast<WORD>(atoi(argv[3]));
    HWND control = controlOf(window, id);
    if (!control)
        return notFound("control");
    return controlCommand(command, window, control, argv);
}

// Each command with the number of its arguments.
static const struct {
    const char* name;
    int arguments;
} COMMANDS[] = {
    {"find", 1}, {"wait", 2}, {"gone", 2}, {"visible", 1}, {"get", 2}, {"status", 1},
    {"expect", 4}, {"set", 3}, {"press", 2}, {"click", 2}, {"command", 2}, {"key", 2}, {"close", 1},
    {"controls", 1}, {"rect", 2}, {"screenshot", 2},
};

static bool wellFormed(int argc, char** argv)
{
    for (const auto& command : COMMANDS)
        if (argc >= 2 && !strcmp(argv[1], command.name))
            return argc == 2 + command.arguments;
    return false;
}

int main(int argc, char** argv)
{
    if (!wellFormed(argc, argv)) {
        fprintf(stderr, "usage: driver find|wait|gone|visible|get|status|expect|set|press|click|command|"
                        "key|close|controls|rect|screenshot WINDOW ARGS... (see driver.cpp)\n");
        return USAGE;
    }
    const char* command = argv[1];
    if (!strcmp(command, "wait") || !strcmp(command, "gone"))
        return waitFor(argv[2], atoi(argv[3]), !strcmp(command, "wait"));
    if (!strcmp(command, "command")) {
        HWND target = FindWindowA(argv[2], nullptr);
        if (!target)
            return notFound("window");
        PostMessageA(target, WM_COMMAND, MAKEWPARAM(atoi(argv[3]), 0), 0);
        return DONE;
    }
    HWND window = findWindow(argv[2]);
    if (!window)
        return notFound("window");
    return windowCommand(command, window, argv);
}
