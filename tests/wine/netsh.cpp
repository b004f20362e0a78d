// Stands in for Windows' netsh as system32\netsh.exe in the Wine tests and the lab,
// where the installers add and delete their firewall rules with it. A Windows
// program, not a script: the installers wait for netsh and read its exit code, and
// Wine neither waits for a Linux program nor passes its exit code on.
//
// In the lab (NETSH_MODEL names the lab's netsh model, a Linux program), it has the
// model turn the call into the home's firewall and exits with the model's code; the
// model reports through a file, since its exit code does not come back. Elsewhere
// it records the call as "netsh ARGUMENTS" in the file CALLS_LOG and exits with 0,
// or with 1 while "netsh" is a line of the file CALLS_LOG.failing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

// A Linux path as Wine reaches it: through drive Z:, which is the root.
static std::string wineName(const std::string& unixPath)
{
    std::string name = "Z:" + unixPath;
    for (char& c : name)
        if (c == '/')
            c = '\\';
    return name;
}

static std::string quoted(const std::string& argument)
{
    return argument.find_first_of(" \t") == std::string::npos ? argument : "\"" + argument + "\"";
}

static bool listed(const std::string& file, const std::string& line)
{
    std::ifstream in(wineName(file));
    for (std::string entry; std::getline(in, entry);)
        if (entry == line)
            return true;
    return false;
}

static int recordCall(const char* log, int argc, char** argv)
{
    std::string line = "netsh";
    for (int i = 1; i < argc; i++)
        line += std::string(" ") + argv[i];
    // Binary: the log is read on the Linux side, without carriage returns.
    std::ofstream(wineName(log), std::ios::app | std::ios::binary) << line << "\n";
    return listed(std::string(log) + ".failing", "netsh") ? 1 : 0;
}

// Starts the model with the result file and the arguments, then waits up to 10 s
// for the result file, which holds the exit code.
static int askModel(const char* model, int argc, char** argv)
{
    char result[64];
    snprintf(result, sizeof result, "/tmp/punchvpn-netsh-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    std::string command = quoted(wineName(model)) + " " + result;
    for (int i = 1; i < argc; i++)
        command += " " + quoted(argv[i]);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fprintf(stderr, "netsh: the lab's model did not start (%lu)\n", GetLastError());
        return 1;
    }
    for (int waited = 0; waited < 10000; waited += 50) {
        std::ifstream in(wineName(result));
        int code = 0;
        if (in >> code) {
            in.close();
            DeleteFileA(wineName(result).c_str());
            return code;
        }
        Sleep(50);
    }
    fprintf(stderr, "netsh: the lab's model did not answer\n");
    return 1;
}

int main(int argc, char** argv)
{
    const char* model = getenv("NETSH_MODEL");
    if (model && *model)
        return askModel(model, argc, argv);
    const char* log = getenv("CALLS_LOG");
    return log && *log ? recordCall(log, argc, argv) : 0;
}
