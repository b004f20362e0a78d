// Native stand-in for the part of <windows.h> and the Windows C runtime that the
// programs use, so that their own sources build and run on Linux under tests.
// Nothing here is product behaviour: commands are recorded instead of run, DOS
// paths map under a directory that a test chooses, and GetTickCount64, Sleep and
// clock() (a 32-bit count, as the Windows C runtime's) run on the clock that a test
// controls (control.h).
#pragma once

#include <stdint.h>

// The C++ forms of these headers undefine the macros below when they are first
// included, so they are included here, before the macros, once and for all.
#include <cstdio>
#include <cstdlib>
#include <ctime>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef unsigned long long ULONGLONG;
typedef unsigned int UINT;
typedef long LONG;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HANDLE;
typedef struct NativeWindow* HWND;
typedef struct NativeInstance* HINSTANCE;
typedef struct NativeKey* HKEY;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define MAKEWORD(low, high) ((WORD)(((BYTE)(low)) | ((WORD)((BYTE)(high))) << 8))
#define LOBYTE(w) ((BYTE)((w) & 0xff))
#define HIBYTE(w) ((BYTE)(((w) >> 8) & 0xff))
#define LOWORD(l) ((WORD)((l) & 0xffff))
#define HIWORD(l) ((WORD)(((l) >> 16) & 0xffff))

// <windows.h> brings the names of winsock.h along; the programs take the handle of
// no socket from there.
#define INVALID_SOCKET (-1)

#define SW_HIDE 0
#define SW_SHOW 5

#define CALLBACK
#define WINAPI

#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define IDOK 1
#define IDCANCEL 2

typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

// The dialog model: one modal dialog at a time, held in memory (see control.h).
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int capacity);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
HWND GetDlgItem(HWND dialog, int id);
BOOL UpdateWindow(HWND window);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC procedure);
BOOL KillTimer(HWND window, UINT_PTR id);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
void PostQuitMessage(int exitCode);

// The registry: keys under HKEY_LOCAL_MACHINE that a test fills (control.h).
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)
#define KEY_READ 0x20019
#define KEY_WOW64_64KEY 0x0100
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_DWORD 4
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_MORE_DATA 234L
LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD options, DWORD access, HKEY* key);
LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegCloseKey(HKEY key);

// The process's environment, as the commands it starts inherit it.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);

void Sleep(DWORD milliseconds);
ULONGLONG GetTickCount64();
void OutputDebugStringA(LPCSTR text);
UINT WinExec(LPCSTR commandLine, UINT show);

// C runtime functions with the Windows meaning.
clock_t platformClock();
int platformSystem(const char* command);
FILE* platformFopen(const char* path, const char* mode);
#define clock() platformClock()
#define system(command) platformSystem(command)
#define fopen(path, mode) platformFopen(path, mode)
