// The client program's start-up and shutdown around the window shell.
#pragma once

// Checks that OpenVPN is installed, ends a running OpenVPN, fixes the server's
// tunnel address, starts Winsock and makes the hosts entry. False when OpenVPN is
// not installed: the reminder has been shown and the program ends with code 0.
bool startClient();

// After the dialog and the message loop: stops OpenVPN while a connection is active.
void stopClient();
