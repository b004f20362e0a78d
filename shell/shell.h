// The window shell: a main window that is created but never shown, whose only
// work is to own the program's control dialog; its menu, accelerators and About
// box; and the program's message loop. The same code serves both programs; only
// their resources differ.
#pragma once

#include <windows.h>

#include "shell/resource.h"

#define WINDOW_TEXT_SIZE 100

// Process-wide. The entry fills the title and the class name from the string
// table before it registers the class; createMainWindow stores the instance.
extern HINSTANCE programInstance;
extern char windowTitle[WINDOW_TEXT_SIZE];
extern char windowClassName[WINDOW_TEXT_SIZE];

ATOM registerMainWindowClass(HINSTANCE instance);
bool createMainWindow(HINSTANCE instance, int showCommand);
int runMessageLoop(HINSTANCE instance);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Each program supplies the procedure of its control dialog (template 129). Its
// Cancel command ends the dialog and posts the quit message.
INT_PTR CALLBACK controlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
