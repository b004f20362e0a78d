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
typedef void* HLOCAL;
typedef void* PSECURITY_DESCRIPTOR;
typedef DWORD SECURITY_INFORMATION;
typedef unsigned long ULONG;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;

#define MAX_PATH 260

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

#define MB_OK 0x0
#define MB_YESNO 0x4
#define MB_ICONQUESTION 0x20
#define MB_ICONEXCLAMATION 0x30
#define IDYES 6
#define IDNO 7

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
// Message boxes are recorded, and answered as a test scripts it (control.h).
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

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

// Errors of the calls below, as GetLastError gives them.
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_DATA 13L
#define ERROR_ALREADY_EXISTS 183L
DWORD GetLastError();
void SetLastError(DWORD error);

// Named mutexes and events of the machine, shared with the other processes that a
// test plays (control.h). Security descriptors are SDDL texts in this stand-in.
typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES;
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x0
#define WAIT_ABANDONED 0x80
#define WAIT_TIMEOUT 258
#define WAIT_FAILED 0xFFFFFFFF
HANDLE CreateMutexA(SECURITY_ATTRIBUTES* attributes, BOOL initialOwner, LPCSTR name);
HANDLE CreateEventA(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
HLOCAL LocalFree(HLOCAL memory);
BOOL CloseHandle(HANDLE handle);

// Security identifiers are SDDL texts in this stand-in ("SY", "BA", "WD" or a
// user's "S-1-5-21-..."); a process's user is the one control.h's runAs names.
typedef void* PSID;
typedef enum { WinWorldSid = 1, WinLocalSystemSid = 22, WinBuiltinAdministratorsSid = 26 } WELL_KNOWN_SID_TYPE;
#define SECURITY_MAX_SID_SIZE 68
BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size);
BOOL IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type);
BOOL EqualSid(PSID first, PSID second);
typedef struct { PSID Sid; DWORD Attributes; } SID_AND_ATTRIBUTES;
typedef struct { SID_AND_ATTRIBUTES User; } TOKEN_USER;
typedef enum { TokenUser = 1 } TOKEN_INFORMATION_CLASS;
#define TOKEN_QUERY 0x0008
HANDLE GetCurrentProcess();
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what, void* information, DWORD size,
                         DWORD* needed);

// Private namespaces, bound to the SIDs added to their boundary; a test may take
// them away, as Wine lacks them (control.h).
HANDLE CreateBoundaryDescriptorW(LPCWSTR name, ULONG flags);
BOOL AddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid);
void DeleteBoundaryDescriptor(HANDLE boundary);
HANDLE CreatePrivateNamespaceW(SECURITY_ATTRIBUTES* attributes, void* boundary, LPCWSTR prefix);
HANDLE OpenPrivateNamespaceW(void* boundary, LPCWSTR prefix);

// Files and folders by their DOS paths (mapped as fopen maps them). A folder's
// security descriptor is kept for a test to read (control.h).
#define OWNER_SECURITY_INFORMATION 0x00000001L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define PROTECTED_DACL_SECURITY_INFORMATION 0x80000000L
#define MOVEFILE_REPLACE_EXISTING 0x1
#define MOVEFILE_WRITE_THROUGH 0x8
BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* attributes);
BOOL SetFileSecurityA(LPCSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
BOOL DeleteFileA(LPCSTR path);
// Text conversions: UTF-8, and the programs' code page, which in this stand-in is
// Latin-1 (the first 256 code points; any other is lost).
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x08
#define WC_NO_BEST_FIT_CHARS 0x400
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int size, LPWSTR wide, int wideSize);
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wide, int wideSize, LPSTR text, int size,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);

#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
DWORD GetFileAttributesA(LPCSTR path);
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_WRITE 0x40000000
#define CREATE_NEW 1
#define ERROR_FILE_EXISTS 80L
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* attributes,
                   DWORD disposition, DWORD flags, HANDLE model);
BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void* overlapped);
BOOL FlushFileBuffers(HANDLE file);

#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOGPFAULTERRORBOX 0x0002
#define SEM_NOOPENFILEERRORBOX 0x8000
UINT SetErrorMode(UINT mode);

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
