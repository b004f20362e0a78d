// The server program's start-up and shutdown around the window shell.
#pragma once

// The command lines server.exe knows besides none: the server that starts with
// Windows (Task Scheduler's task), the installer's sealing of its name and password
// ("/seal FILE [PASSWORDFILE]"), and the stop of the running server. Any other command line starts
// it as the Start menu does.
#define AUTO_SWITCH "/auto"
#define SEAL_SWITCH "/seal"
#define STOP_SWITCH "/stop"

// Everything before the window shell, by the command line (words split as Windows'
// programs split them, quotes dropped): seals and ends ("/seal FILE [PASSWORDFILE]",
// exit code as sealFromFile's); stops the running server and ends ("/stop"); reads the sealed name and
// password ("/auto"); makes this the computer's one server; then startServer. False
// when the program ends here with exitCode: 1 for the unattended server that could
// not start, so that Task Scheduler sees a failure.
bool prepareServer(const char* commandLine, int& exitCode);

// Reads the computer name, checks that OpenVPN is installed, ends a running
// OpenVPN, fixes the client's tunnel address, starts Winsock and finds the central
// server. False when OpenVPN is not installed: the reminder has been shown (the
// unattended server logs it instead) and the program ends (code 0, 1 unattended).
bool startServer();

// After the dialog and the message loop: stops OpenVPN, whatever the state.
void stopServer();
