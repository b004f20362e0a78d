// What a native test can see and script of the stand-in operating system.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Commands run through the C runtime's system(): recorded in order. A test may
// script what each one does (for example write the file that ping redirects to)
// and what it returns; without a script a command does nothing and returns 0.
using CommandScript = std::function<int(const std::string& command)>;
void scriptSystem(CommandScript script);
std::vector<std::string> systemCommands();

// Commands started with WinExec: recorded with their show state. A script may
// act on them; WinExec returns 33 ("started") as Windows does on success, and 2
// (file not found) for a command whose program the machine lacks (removeProgram:
// the first word of the command line, e.g. "tskill").
struct StartedCommand {
    std::string commandLine;
    unsigned show;
};
void scriptWinExec(CommandScript script);
std::vector<StartedCommand> startedCommands();
void removeProgram(const std::string& name);

// The registry: a text or number value under a key of HKEY_LOCAL_MACHINE (key
// names are compared without regard to case, as Windows does).
void setRegistryText(const std::string& key, const std::string& name, const std::string& text);
void setRegistryNumber(const std::string& key, const std::string& name, uint32_t number);

// Sockets for which SO_EXCLUSIVEADDRUSE was set before their bind.
bool openedForExclusiveUse(int socket);

// Named mutexes and events, shared with the machine's other processes, which a test
// plays: one holds a mutex, and ends without letting it go (the mutex is then
// abandoned); one sets an event, or takes it as its wait would. Waits of the program
// move the clock, so the processes a test plays act meanwhile (listenToClock).
void holdMutexElsewhere(const std::string& name);
void endHolderElsewhere(const std::string& name);
bool mutexHeldHere(const std::string& name);
void setEventElsewhere(const std::string& name);
bool takeEventElsewhere(const std::string& name);
bool objectExists(const std::string& name);
// The SDDL text of the security descriptor an object was made with; empty for the
// default one.
std::string objectSecurity(const std::string& name);
// Another user makes the mutex or event first, with that security descriptor (its
// "O:" names the owner), and leaves it as it is: nobody holds or sets it.
void makeObjectElsewhere(const std::string& name, bool mutex, const std::string& security);
// Private namespaces are missing, as under Wine: CreateBoundaryDescriptorW fails.
void withoutPrivateNamespaces();

// The user this process runs as, for data protection: data sealed for a user opens
// only for that user (machine scope: for every user). "Administrator" at first.
void runAs(const std::string& user);

// The security descriptor (SDDL text) a file or folder was last given, by
// CreateDirectoryA or SetFileSecurityA, with what it set (OWNER_..., DACL_...,
// PROTECTED_DACL_SECURITY_INFORMATION).
struct FileSecurity {
    std::string descriptor;
    unsigned long what = 0;
};
FileSecurity fileSecurity(const std::string& dosPath);
// The owner of a file or folder, as another user who made it would leave it (an SID
// text such as "S-1-5-21-1-2-3-1001"); until something sets its owner. Without one,
// a file is owned as its descriptor says, else by the Administrators.
void setFileOwner(const std::string& dosPath, const std::string& owner);
// The owner an SDDL text names ("BA" in "O:BAD:..."), empty when it names none.
std::string ownerIn(const std::string& descriptor);

// The mode SetErrorMode set last.
unsigned errorMode();

// Message boxes: recorded, and answered by the script (IDOK without one).
struct MessageBox {
    std::string text;
    std::string caption;
    unsigned type;
};
using MessageBoxScript = std::function<int(const std::string& text)>;
void scriptMessageBoxes(MessageBoxScript script);
std::vector<MessageBox> messageBoxes();

// Winsock start-up: the result that WSAStartup gives and the version it reports.
void scriptWinsock(int startupResult, unsigned short version);
int winsockCleanups();

// DOS paths ("c:\...", "\...") map to ROOT/c/... with forward slashes, in lower
// case (Windows compares file names without regard to case).
void setDosRoot(const std::string& root);
std::string nativePath(const std::string& dosPath);

// Files read in text mode end at a Ctrl-Z (0x1A), as the Windows C runtime reads
// them. File failures, keyed by the path as the program names it: the next fopen
// of the path with a mode beginning with `mode` ('r' or 'w') fails; the next file
// opened for reading there opens but every read fails (errno untouched); or the
// next file opened for writing there takes only `bytes` bytes and then fails, as
// a full disk would.
void failNextOpen(const std::string& path, char mode);
void failNextRead(const std::string& path);
void failNextWriteAfter(const std::string& path, size_t bytes);

// The clock of GetTickCount64, clock() and Sleep. A test runs on a clock of its
// own: it stands still unless Sleep or advanceClock moves it, and every move calls
// the clock's listeners, through which the parties a test plays take in what has
// arrived and answer when their moment has come. A datagram sent on lo has arrived
// when sendto returns, so a wait of seconds takes no real time and lasts exactly as
// long on this clock. Tests against real processes (central) take the real clock
// instead: wall milliseconds since the process started, and Sleep sleeps.
void useRealClock();
bool usesRealClock();
// Moves the clock forward (the real one too, as if the machine had been running
// that much longer). clock() counts the same milliseconds in 32 bits, as the
// Windows C runtime's does: past 2^31 ms (about 24.8 days) it turns negative.
void advanceClock(uint64_t milliseconds);
// Calls the function at every move of the test clock, until stopListening.
int listenToClock(std::function<void()> listener);
void stopListening(int id);
// Listens to the test clock for as long as it lives.
class ClockListener {
public:
    explicit ClockListener(std::function<void()> listener) : id_(listenToClock(std::move(listener))) {}
    ~ClockListener() { stopListening(id_); }
    ClockListener(const ClockListener&) = delete;
    ClockListener& operator=(const ClockListener&) = delete;

private:
    int id_;
};

// Text sent to the debugger with OutputDebugStringA.
std::vector<std::string> debugOutput();

// The dialog model. openDialog makes the one dialog, with the program's dialog
// procedure, and sends it WM_INITDIALOG, as the modal dialog call does.
typedef intptr_t (*DialogProcedure)(struct NativeWindow*, unsigned, uintptr_t, intptr_t);
struct NativeWindow* openDialog(DialogProcedure procedure);
// What the dialog procedure returned for the last message sent to it.
intptr_t lastResult();
// The user's side: type into a field, press a button (WM_COMMAND with its id).
void typeText(int id, const std::string& text);
void press(int id);
// Timer 1's period in milliseconds, 0 when it is not running.
unsigned timerPeriod(unsigned id = 1);
// Moves the clock on by timer 1's period and delivers WM_TIMER, if the timer runs;
// false when it does not.
bool tick();
// The same for any timer: a timer made with a procedure calls it, as DispatchMessage
// does, and the dialog procedure does not see it.
bool fireTimer(unsigned id);
std::string itemText(int id);
// Every text that was set on an item, in order (texts shown only during a
// busy-wait cannot be seen otherwise).
std::vector<std::string> itemHistory(int id);
bool dialogEnded();
intptr_t dialogResult();
// The exit code posted with PostQuitMessage, or -1 when none was posted.
int quitCode();

// Clears every record and script, and puts the test clock back to 0, without
// listeners.
void resetRecords();

} // namespace platform
