// Control of the OpenVPN process: the files it reads from the working directory
// and the command lines that start and stop it. Commands are fire-and-forget.
#pragma once

#include <stdint.h>

#define OPENVPN_PROBE_FILE "c:\\program files\\openvpn\\license.txt"
#define REMIND_COMMAND "remind.bat"
#define TSKILL_COMMAND "tskill openvpn"
#define OP_BAT_COMMAND "op.bat"
#define SERVER_OPENVPN_COMMAND "openvpn server.ovpn"
#define STOP_COMMAND "stop openvpn"
#define EXPLORER_COMMAND "start explorer \\\\10.8.0.1"

// True when OpenVPN's installation is found (its licence file opens).
bool openVpnInstalled();

// Writes `unamepass` ("name password" and a line break), which the client's
// OpenVPN reads as its credentials. False when the file cannot be written.
bool writeUserNamePassword(const char* userName, const char* password);

// Writes `op.bat`, which runs OpenVPN in client mode towards the address and port
// from which the server's probe came. False when the file cannot be written.
bool writeOpBat(uint32_t serverIp, uint16_t serverPort);

// Starts a command line without waiting for it; the result is not looked at.
void startCommand(const char* commandLine, unsigned show);
