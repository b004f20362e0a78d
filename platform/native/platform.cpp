// The stand-in operating system of the native build.
#include <winsock2.h>
#include <mswsock.h>
#include <aclapi.h>

#include "control.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
void resetClock();    // clock.cpp
void resetKernel();   // kernel.cpp
void resetSecurity(); // security.cpp
}

#undef system
#undef fopen
#undef recvfrom
#undef setsockopt

namespace {

struct Records {
    platform::CommandScript systemScript;
    platform::CommandScript winExecScript;
    std::vector<std::string> systemCommands;
    std::vector<platform::StartedCommand> startedCommands;
    std::vector<std::string> debugOutput;
    int startupResult = 0;
    WORD winsockVersion = MAKEWORD(2, 2);
    int cleanups = 0;
    std::string dosRoot = ".";
    std::map<std::string, char> failingOpens;
    std::map<std::string, size_t> failingWrites;
    std::set<std::string> failingReads;
    std::set<std::string> missingPrograms;
    // key (lower case) -> value name -> (type, bytes)
    std::map<std::string, std::map<std::string, std::pair<DWORD, std::string>>> registry;
    std::set<SOCKET> exclusiveSockets;
    std::map<std::string, platform::FileSecurity> fileSecurity; // by native path
    std::map<std::string, std::string> fileOwners;              // by native path, as a test set them
    std::map<HANDLE, std::pair<int, size_t>> openFiles; // CreateFileA's handles: descriptor, room left
    platform::MessageBoxScript messageBoxScript;
    std::vector<platform::MessageBox> messageBoxes;
};

struct Timer {
    UINT period;
    TIMERPROC procedure;
};

struct Dialog {
    platform::DialogProcedure procedure = nullptr;
    std::map<int, std::vector<std::string>> items; // every text each item had
    std::map<UINT_PTR, Timer> timers;
    intptr_t lastResult = 0;
    bool ended = false;
    intptr_t endResult = 0;
    int quitCode = -1;
};

Dialog& dialog()
{
    static Dialog d;
    return d;
}

// The one dialog's handle: any non-null value; the model has a single dialog.
NativeWindow* const DIALOG = reinterpret_cast<NativeWindow*>(0x129);

Records& records()
{
    static Records r;
    return r;
}

} // namespace

void OutputDebugStringA(LPCSTR text)
{
    records().debugOutput.emplace_back(text ? text : "");
}

UINT WinExec(LPCSTR commandLine, UINT show)
{
    records().startedCommands.push_back({commandLine, show});
    std::string program = std::string(commandLine).substr(0, std::string(commandLine).find(' '));
    if (records().missingPrograms.count(program))
        return 2;
    if (records().winExecScript)
        records().winExecScript(commandLine);
    return 33;
}

static std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// An open key is a pointer to its entry in the registry model.
using RegistryKey = std::map<std::string, std::pair<DWORD, std::string>>;

LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, DWORD, HKEY* key)
{
    auto found = records().registry.find(lowerCase(subKey));
    if (parent != HKEY_LOCAL_MACHINE || found == records().registry.end())
        return ERROR_FILE_NOT_FOUND;
    *key = reinterpret_cast<HKEY>(&found->second);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    RegistryKey* values = reinterpret_cast<RegistryKey*>(key);
    auto value = values->find(lowerCase(name));
    if (value == values->end())
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = value->second.first;
    const std::string& bytes = value->second.second;
    DWORD room = size ? *size : 0;
    if (size)
        *size = static_cast<DWORD>(bytes.size());
    if (!data)
        return ERROR_SUCCESS;
    if (room < bytes.size())
        return ERROR_MORE_DATA;
    memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY)
{
    return ERROR_SUCCESS;
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    const char* value = getenv(name);
    if (!value)
        return 0;
    DWORD length = static_cast<DWORD>(strlen(value));
    if (!buffer || size <= length)
        return length + 1;
    memcpy(buffer, value, length + 1);
    return length;
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value)
{
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

int platformSystem(const char* command)
{
    records().systemCommands.emplace_back(command);
    return records().systemScript ? records().systemScript(command) : 0;
}

// Closes a file opened through a cookie (LimitedFile, ReadFile) and frees the cookie.
template <typename Cookie> static int closeCookie(void* cookie)
{
    Cookie* held = static_cast<Cookie*>(cookie);
    int result = ::fclose(held->file);
    delete held;
    return result;
}

// A file that takes a limited number of bytes and then fails every write.
struct LimitedFile {
    FILE* file;
    size_t room;
};

static ssize_t writeLimited(void* cookie, const char* data, size_t size)
{
    LimitedFile* limited = static_cast<LimitedFile*>(cookie);
    size_t taken = std::min(size, limited->room);
    fwrite(data, 1, taken, limited->file);
    limited->room -= taken;
    if (taken < size) {
        errno = ENOSPC;
        return -1;
    }
    return static_cast<ssize_t>(size);
}


// A file read as the Windows C runtime reads it: in text mode a Ctrl-Z (0x1A) ends
// it. A read made to fail (failNextRead) fails and leaves errno as it was.
struct ReadFile {
    FILE* file;
    bool text;
    bool failing;
    bool ended;
};

static ssize_t readFile(void* cookie, char* data, size_t size)
{
    ReadFile* read = static_cast<ReadFile*>(cookie);
    if (read->failing)
        return -1;
    if (read->ended)
        return 0;
    size_t n = fread(data, 1, size, read->file);
    const void* ctrlZ = read->text ? memchr(data, 0x1A, n) : nullptr;
    if (ctrlZ) {
        n = static_cast<size_t>(static_cast<const char*>(ctrlZ) - data);
        read->ended = true;
    }
    return static_cast<ssize_t>(n);
}


static int seekFile(void* cookie, off64_t* offset, int whence)
{
    ReadFile* read = static_cast<ReadFile*>(cookie);
    if (fseeko(read->file, *offset, whence) != 0)
        return -1;
    *offset = ftello(read->file);
    read->ended = false;
    return 0;
}

static FILE* openWriting(FILE* file, const char* path, const char* mode)
{
    auto limit = records().failingWrites.find(path);
    if (limit == records().failingWrites.end())
        return file;
    LimitedFile* limited = new LimitedFile{file, limit->second};
    records().failingWrites.erase(limit);
    cookie_io_functions_t functions{nullptr, writeLimited, nullptr, closeCookie<LimitedFile>};
    return fopencookie(limited, mode, functions);
}

static FILE* openReading(FILE* file, const char* path, const char* mode)
{
    bool failing = records().failingReads.erase(path) > 0;
    ReadFile* read = new ReadFile{file, strchr(mode, 'b') == nullptr, failing, false};
    cookie_io_functions_t functions{readFile, nullptr, seekFile, closeCookie<ReadFile>};
    return fopencookie(read, mode, functions);
}

FILE* platformFopen(const char* path, const char* mode)
{
    auto failing = records().failingOpens.find(path);
    if (failing != records().failingOpens.end() && failing->second == mode[0]) {
        records().failingOpens.erase(failing);
        errno = EACCES;
        return nullptr;
    }
    FILE* file = ::fopen(platform::nativePath(path).c_str(), mode);
    if (!file)
        return nullptr;
    if (mode[0] == 'w')
        return openWriting(file, path, mode);
    return mode[0] == 'r' ? openReading(file, path, mode) : file;
}

int WSAStartup(WORD, WSADATA* data)
{
    *data = WSADATA{};
    data->wVersion = records().winsockVersion;
    data->wHighVersion = MAKEWORD(2, 2);
    return records().startupResult;
}

int WSACleanup()
{
    ++records().cleanups;
    return 0;
}

int closesocket(SOCKET s)
{
    records().exclusiveSockets.erase(s);
    return ::close(s);
}

static bool bound(SOCKET s)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    return ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0 && address.sin_port != 0;
}

// Linux already refuses a second bind of a port that a socket holds (unless both set
// SO_REUSEADDR): every socket here has the exclusive use that Windows gives only on
// request. The request is recorded; Windows takes it only before the bind.
int platformSetsockopt(SOCKET s, int level, int name, const void* value, int size)
{
    if (level != SOL_SOCKET || name != SO_EXCLUSIVEADDRUSE)
        return ::setsockopt(s, level, name, value, static_cast<socklen_t>(size));
    if (bound(s))
        return SOCKET_ERROR;
    records().exclusiveSockets.insert(s);
    return 0;
}

int ioctlsocket(SOCKET s, long command, u_long* argument)
{
    if (command != static_cast<long>(FIONBIO))
        return SOCKET_ERROR;
    int flags = ::fcntl(s, F_GETFL);
    if (flags < 0)
        return SOCKET_ERROR;
    flags = *argument ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(s, F_SETFL, flags) < 0 ? SOCKET_ERROR : 0;
}

int WSAIoctl(SOCKET, DWORD code, void*, DWORD, void*, DWORD, DWORD* returned, void*, void*)
{
    if (code != SIO_UDP_CONNRESET)
        return SOCKET_ERROR;
    *returned = 0;
    return 0;
}

int platformRecvfrom(SOCKET s, char* buffer, int length, int flags, struct sockaddr* from,
                     int* fromLength)
{
    socklen_t size = fromLength ? static_cast<socklen_t>(*fromLength) : 0;
    // MSG_TRUNC makes Linux report the datagram's real length, so a datagram that
    // does not fit can fail as it does under Winsock (WSAEMSGSIZE).
    ssize_t n = ::recvfrom(s, buffer, static_cast<size_t>(length), flags | MSG_TRUNC, from,
                           fromLength ? &size : nullptr);
    if (fromLength)
        *fromLength = static_cast<int>(size);
    if (n > length)
        return SOCKET_ERROR;
    return static_cast<int>(n);
}

UINT GetDlgItemTextA(HWND, int id, LPSTR text, int capacity)
{
    if (capacity <= 0)
        return 0;
    std::string value = platform::itemText(id);
    size_t length = std::min(value.size(), static_cast<size_t>(capacity - 1));
    memcpy(text, value.data(), length);
    text[length] = 0;
    return static_cast<UINT>(length);
}

BOOL SetDlgItemTextA(HWND, int id, LPCSTR text)
{
    dialog().items[id].emplace_back(text);
    return TRUE;
}

HWND GetDlgItem(HWND, int)
{
    return DIALOG;
}

BOOL UpdateWindow(HWND)
{
    return TRUE;
}

UINT_PTR SetTimer(HWND, UINT_PTR id, UINT period, TIMERPROC procedure)
{
    dialog().timers[id] = Timer{period, procedure};
    return id;
}

BOOL KillTimer(HWND, UINT_PTR id)
{
    return dialog().timers.erase(id) ? TRUE : FALSE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!dialog().procedure || dialog().ended)
        return 0;
    intptr_t result = dialog().procedure(window, message, wParam, lParam);
    dialog().lastResult = result;
    return result;
}

BOOL EndDialog(HWND, INT_PTR result)
{
    dialog().ended = true;
    dialog().endResult = result;
    dialog().timers.clear(); // the dialog's window, and with it its timers, is gone
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    dialog().quitCode = exitCode;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    records().messageBoxes.push_back({text, caption, type});
    return records().messageBoxScript ? records().messageBoxScript(text) : IDOK;
}

// The last error of a failed file call, from errno.
static BOOL failed()
{
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                                                           : ERROR_ACCESS_DENIED);
    return FALSE;
}

// What a new file or folder was made with; it is owned by this process's side.
static void madeWith(const std::string& native, SECURITY_ATTRIBUTES* attributes)
{
    records().fileOwners.erase(native);
    records().fileSecurity.erase(native);
    if (attributes && attributes->lpSecurityDescriptor)
        records().fileSecurity[native] = {static_cast<const char*>(attributes->lpSecurityDescriptor),
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION};
}

BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* attributes)
{
    std::string native = platform::nativePath(path);
    if (::mkdir(native.c_str(), 0755) != 0)
        return failed();
    madeWith(native, attributes);
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path)
{
    struct stat info;
    if (::lstat(platform::nativePath(path).c_str(), &info) != 0) {
        failed();
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISLNK(info.st_mode))
        return FILE_ATTRIBUTE_REPARSE_POINT | (::stat(platform::nativePath(path).c_str(), &info) == 0 &&
                                                       S_ISDIR(info.st_mode)
                                                   ? FILE_ATTRIBUTE_DIRECTORY
                                                   : 0);
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

HANDLE CreateFileA(LPCSTR path, DWORD, DWORD, SECURITY_ATTRIBUTES* attributes, DWORD disposition, DWORD,
                   HANDLE)
{
    auto failing = records().failingOpens.find(path);
    if (failing != records().failingOpens.end() && failing->second == 'w') {
        records().failingOpens.erase(failing);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::string native = platform::nativePath(path);
    int flags = O_WRONLY | O_CREAT | (disposition == CREATE_NEW ? O_EXCL : O_TRUNC);
    int descriptor = ::open(native.c_str(), flags, 0644);
    if (descriptor < 0) {
        SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                                                            : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    madeWith(native, attributes);
    size_t room = SIZE_MAX;
    auto full = records().failingWrites.find(path);
    if (full != records().failingWrites.end()) {
        room = full->second;
        records().failingWrites.erase(full);
    }
    static intptr_t nextHandle = 0x1000;
    HANDLE handle = reinterpret_cast<HANDLE>(nextHandle++);
    records().openFiles[handle] = {descriptor, room};
    return handle;
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void*)
{
    auto open = records().openFiles.find(file);
    if (open == records().openFiles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    size_t& room = open->second.second;
    ssize_t count = ::write(open->second.first, data, std::min<size_t>(size, room));
    *written = count < 0 ? 0 : static_cast<DWORD>(count);
    if (count > 0 && room != SIZE_MAX)
        room -= count;
    if (count == static_cast<ssize_t>(size))
        return TRUE;
    errno = ENOSPC;
    return failed();
}

BOOL FlushFileBuffers(HANDLE file) { return records().openFiles.count(file) ? TRUE : FALSE; }

// Closes a file of CreateFileA; the stand-in's mutexes and events live on.
BOOL CloseHandle(HANDLE handle)
{
    auto open = records().openFiles.find(handle);
    if (open != records().openFiles.end()) {
        ::close(open->second.first);
        records().openFiles.erase(open);
    }
    return TRUE;
}

DWORD GetNamedSecurityInfoA(LPCSTR path, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*, PACL*,
                            PACL*, PSECURITY_DESCRIPTOR* descriptor)
{
    std::string native = platform::nativePath(path);
    struct stat info;
    if (::lstat(native.c_str(), &info) != 0)
        return ERROR_FILE_NOT_FOUND;
    auto set = records().fileOwners.find(native);
    auto security = records().fileSecurity.find(native);
    std::string text = set != records().fileOwners.end() ? set->second
                       : security != records().fileSecurity.end()
                           ? platform::ownerIn(security->second.descriptor)
                           : "";
    char* copy = strdup(text.empty() ? "BA" : text.c_str());
    *owner = copy;
    *descriptor = copy;
    return ERROR_SUCCESS;
}

BOOL SetFileSecurityA(LPCSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor)
{
    std::string native = platform::nativePath(path);
    struct stat info;
    if (::stat(native.c_str(), &info) != 0)
        return failed();
    records().fileSecurity[native] = {static_cast<const char*>(descriptor), what};
    if (what & OWNER_SECURITY_INFORMATION)
        records().fileOwners.erase(native);
    return TRUE;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    std::string source = platform::nativePath(from), target = platform::nativePath(to);
    struct stat info;
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && ::stat(target.c_str(), &info) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (::rename(source.c_str(), target.c_str()) != 0)
        return failed();
    // A moved file keeps its owner and protection; nothing is left at the source.
    records().fileOwners.erase(target);
    records().fileSecurity.erase(target);
    auto owner = records().fileOwners.find(source);
    if (owner != records().fileOwners.end()) {
        records().fileOwners[target] = owner->second;
        records().fileOwners.erase(owner);
    }
    auto security = records().fileSecurity.find(source);
    if (security != records().fileSecurity.end()) {
        records().fileSecurity[target] = security->second;
        records().fileSecurity.erase(security);
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR path)
{
    return ::unlink(platform::nativePath(path).c_str()) == 0 ? TRUE : failed();
}

namespace platform {

NativeWindow* openDialog(DialogProcedure procedure)
{
    dialog() = Dialog{};
    dialog().procedure = procedure;
    SendMessageA(DIALOG, WM_INITDIALOG, 0, 0);
    return DIALOG;
}

intptr_t lastResult() { return dialog().lastResult; }
void typeText(int id, const std::string& text) { dialog().items[id].push_back(text); }
void press(int id) { SendMessageA(DIALOG, WM_COMMAND, static_cast<WPARAM>(id), 0); }
bool dialogEnded() { return dialog().ended; }
intptr_t dialogResult() { return dialog().endResult; }
int quitCode() { return dialog().quitCode; }

unsigned timerPeriod(unsigned id)
{
    auto timer = dialog().timers.find(id);
    return timer == dialog().timers.end() ? 0 : timer->second.period;
}

bool fireTimer(unsigned id)
{
    auto timer = dialog().timers.find(id);
    if (timer == dialog().timers.end() || dialog().ended)
        return false;
    Timer fired = timer->second; // the handler may end the dialog and its timers
    advanceClock(fired.period);
    if (fired.procedure)
        fired.procedure(DIALOG, WM_TIMER, id, static_cast<DWORD>(GetTickCount64()));
    else
        SendMessageA(DIALOG, WM_TIMER, id, 0);
    return true;
}

bool tick() { return fireTimer(1); }

std::string itemText(int id)
{
    auto item = dialog().items.find(id);
    return item == dialog().items.end() || item->second.empty() ? "" : item->second.back();
}

std::vector<std::string> itemHistory(int id)
{
    auto item = dialog().items.find(id);
    return item == dialog().items.end() ? std::vector<std::string>{} : item->second;
}

void scriptSystem(CommandScript script) { records().systemScript = std::move(script); }
std::vector<std::string> systemCommands() { return records().systemCommands; }
void scriptWinExec(CommandScript script) { records().winExecScript = std::move(script); }
void removeProgram(const std::string& name) { records().missingPrograms.insert(name); }

// Text values are stored with their terminating zero, as Windows stores REG_SZ.
void setRegistryText(const std::string& key, const std::string& name, const std::string& text)
{
    records().registry[lowerCase(key)][lowerCase(name)] = {REG_SZ, text + '\0'};
}

void setRegistryNumber(const std::string& key, const std::string& name, uint32_t number)
{
    records().registry[lowerCase(key)][lowerCase(name)] = {REG_DWORD, std::string(reinterpret_cast<char*>(&number), 4)};
}
std::vector<StartedCommand> startedCommands() { return records().startedCommands; }
bool openedForExclusiveUse(int socket) { return records().exclusiveSockets.count(socket) > 0; }
void scriptMessageBoxes(MessageBoxScript script) { records().messageBoxScript = std::move(script); }
std::vector<MessageBox> messageBoxes() { return records().messageBoxes; }

FileSecurity fileSecurity(const std::string& dosPath)
{
    auto found = records().fileSecurity.find(nativePath(dosPath));
    return found == records().fileSecurity.end() ? FileSecurity{} : found->second;
}
std::vector<std::string> debugOutput() { return records().debugOutput; }
int winsockCleanups() { return records().cleanups; }
void setDosRoot(const std::string& root) { records().dosRoot = root; }

void setFileOwner(const std::string& dosPath, const std::string& owner)
{
    records().fileOwners[nativePath(dosPath)] = owner;
}

std::string ownerIn(const std::string& descriptor)
{
    if (descriptor.compare(0, 2, "O:") != 0)
        return "";
    size_t end = 2;
    while (end < descriptor.size() && !(descriptor.compare(end, 2, "D:") == 0 || descriptor.compare(end, 2, "G:") == 0))
        ++end;
    return descriptor.substr(2, end - 2);
}
void failNextOpen(const std::string& path, char mode) { records().failingOpens[path] = mode; }

void failNextRead(const std::string& path) { records().failingReads.insert(path); }

void failNextWriteAfter(const std::string& path, size_t bytes)
{
    records().failingWrites[path] = bytes;
}

void scriptWinsock(int startupResult, unsigned short version)
{
    records().startupResult = startupResult;
    records().winsockVersion = version;
}

std::string nativePath(const std::string& dosPath)
{
    std::string rest;
    if (dosPath.size() >= 3 && dosPath[1] == ':' && dosPath[2] == '\\')
        rest = dosPath.substr(0, 1) + dosPath.substr(2);
    else if (!dosPath.empty() && dosPath[0] == '\\')
        rest = "c" + dosPath; // the current drive
    else
        return dosPath;
    // Windows compares file names without regard to case: one spelling on disk.
    rest = lowerCase(rest);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    return records().dosRoot + "/" + rest;
}

void resetRecords()
{
    records() = Records{};
    dialog() = Dialog{};
    resetClock();
    resetKernel();
    resetSecurity();
}

} // namespace platform
