// Resource and command ids shared by the resource scripts of both programs and
// by their code. Only #define lines: the resource compiler reads this file too.
#pragma once

// The control dialog and its controls.
#define CONTROL_DIALOG 129
#define CONNECT_BUTTON 1000
#define DISCONNECT_BUTTON 1001
#define NAME_FIELD 1003
#define PASSWORD_FIELD 1004
#define STATUS_LINE 1005
#define HEARTBEAT_FIELD 1006

// The About box; its picture carries the id of the Cancel command.
#define ABOUT_BOX 103
#define ABOUT_ICON 2

// The hidden main window: its menu and accelerator table, and their commands.
#define MAIN_MENU 109
#define MAIN_ACCELERATORS 109
#define COMMAND_ABOUT 104
#define COMMAND_EXIT 105

// The string table.
#define TITLE_STRING 103
#define GREETING_STRING 106
#define CLASS_NAME_STRING 109

// The icons: 107 holds a large and a small picture, 108 a different small one.
#define LARGE_ICON 107
#define SMALL_ICON 108

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
