#include "support/central_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

pid_t spawn(const std::vector<std::string>& options, int out, int err) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(CENTRAL_BINARY));
    for (const std::string& option : options) argv.push_back(const_cast<char*>(option.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        execv(CENTRAL_BINARY, argv.data());
        _exit(127);
    }
    return pid;
}

int waitExit(pid_t pid, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string tempFile() {
    char path[] = "/tmp/central-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) throw std::runtime_error("no temporary file");
    close(fd);
    return path;
}

} // namespace

CentralProcess::CentralProcess(const std::vector<std::string>& options) : logPath_(tempFile()) {
    int log = open(logPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    pid_ = spawn(options, log, log);
    close(log);
    if (!waitForLog("listening on", 10000))
        throw std::runtime_error("central did not start: " + this->log());
}

CentralProcess::~CentralProcess() {
    if (pid_ > 0) stop(SIGKILL);
    unlink(logPath_.c_str());
}

int CentralProcess::stop(int signal) {
    kill(pid_, signal);
    int status = waitExit(pid_, 5000);
    pid_ = -1;
    return status;
}

std::string CentralProcess::log() const { return readFile(logPath_); }

bool CentralProcess::waitForLog(const std::string& text, int timeoutMs) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int runCentral(const std::vector<std::string>& options, std::string& output) {
    std::string outPath = tempFile(), errPath = tempFile();
    int out = open(outPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    int err = open(errPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    pid_t pid = spawn(options, out, err);
    close(out);
    close(err);
    int status = waitExit(pid, 10000);
    output = readFile(outPath) + readFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return status;
}
