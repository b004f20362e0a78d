// Control of the OpenVPN process: the files it reads from the working directory
// and the command lines that start and stop it. Commands are fire-and-forget.
#pragma once

#include <stdint.h>

#define REMIND_COMMAND "remind.bat"
#define TSKILL_COMMAND "tskill openvpn"
#define TASKKILL_COMMAND "taskkill /F /IM openvpn.exe"
#define OP_BAT_COMMAND "op.bat"
#define SERVER_OPENVPN_COMMAND "openvpn server.ovpn"
#define STOP_COMMAND "stop openvpn"
#define EXPLORER_COMMAND "start explorer \\\\10.8.0.1"

// Writes `unamepass` ("name password" and a line break), which the client's
// OpenVPN reads as its credentials. False when the file cannot be written.
bool writeUserNamePassword(const char* userName, const char* password);

// Writes `op.bat`, which runs OpenVPN in client mode towards the address and port
// from which the server's probe came. False when the file cannot be written.
bool writeOpBat(uint32_t serverIp, uint16_t serverPort);

// Starts a command line without waiting for it; the result is not looked at.
void startCommand(const char* commandLine, unsigned show);

// Ends every running OpenVPN, hidden, without waiting: "tskill openvpn", or where
// Windows has no tskill (the Home editions lack it) "taskkill /F /IM openvpn.exe".
void endOpenVpn();
