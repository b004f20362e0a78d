// The server program's start-up and shutdown around the window shell.
#pragma once

// Reads the computer name, checks that OpenVPN is installed, ends a running
// OpenVPN, fixes the client's tunnel address, starts Winsock and finds the central
// server. False when OpenVPN is not installed: the reminder has been shown and the
// program ends with code 0.
bool startServer();

// After the dialog and the message loop: stops OpenVPN, whatever the state.
void stopServer();
