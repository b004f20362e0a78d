// The real central binary as a child process of the test, its log captured in
// a file.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class CentralProcess {
public:
    // Starts central with these options and waits until it receives.
    explicit CentralProcess(const std::vector<std::string>& options = {});
    ~CentralProcess();
    CentralProcess(const CentralProcess&) = delete;
    CentralProcess& operator=(const CentralProcess&) = delete;

    // Sends the signal and returns the exit status (-1 when it did not exit
    // normally within 5 s).
    int stop(int signal);
    std::string log() const;
    // Waits up to timeoutMs for text to show in the log.
    bool waitForLog(const std::string& text, int timeoutMs = 2000) const;

private:
    pid_t pid_ = -1;
    std::string logPath_;
};

// Runs central with these options to its end and returns its exit status and
// its output (stdout then stderr).
int runCentral(const std::vector<std::string>& options, std::string& output);
