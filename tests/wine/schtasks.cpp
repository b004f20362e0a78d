// Stands in for Windows' schtasks as system32\schtasks.exe in the Wine tests: records
// the call as "schtasks ARGUMENTS" in the file CALLS_LOG, then hands it to Wine's own
// schtasks (kept beside it as wine-schtasks.exe) and exits with its exit code. Wine's
// schtasks registers and deletes tasks but runs none: /Run and /Change /DISABLE are
// "unsupported" there and exit 0 and 1; the record shows that the installer asked.
// A Windows program, since the installers wait for schtasks and read its exit code.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>

static std::string quoted(const std::string& argument)
{
    return argument.find_first_of(" \t") == std::string::npos ? argument : "\"" + argument + "\"";
}

int main(int argc, char** argv)
{
    std::string line = "schtasks";
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    std::string command = quoted(std::string(system) + "\\wine-schtasks.exe");
    for (int i = 1; i < argc; i++) {
        line += std::string(" ") + argv[i];
        command += " " + quoted(argv[i]);
    }
    const char* log = getenv("CALLS_LOG");
    if (log && *log) {
        std::string name = std::string("Z:") + log; // the Linux path through drive Z:
        for (char& c : name)
            if (c == '/')
                c = '\\';
        // Binary: the log is read on the Linux side, without carriage returns.
        std::ofstream(name, std::ios::app | std::ios::binary) << line << "\n";
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(code);
}
