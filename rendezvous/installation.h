// Where OpenVPN for Windows is installed. Its installer puts openvpn.exe into the
// bin folder of the folder the user chose (C:\Program Files\OpenVPN by default),
// records that folder in the registry, and adds nothing to the PATH; the programs
// start OpenVPN by its bare name, so they put its folder on their own PATH, which
// every command they start inherits.
#pragma once

#include <string>

#define OPENVPN_PROBE_FILE "c:\\program files\\openvpn\\license.txt"
#define OPENVPN_REGISTRY_KEY "SOFTWARE\\OpenVPN"
#define OPENVPN_DEFAULT_BIN_FOLDER "C:\\Program Files\\OpenVPN\\bin"

// The folder that holds openvpn.exe: the one the registry names (exe_path's folder,
// else bin_dir; 64-bit view), else the default one. Empty when openvpn.exe is in
// none of them. fromRegistry tells whether the registry named the folder.
std::string openVpnBinFolder(bool& fromRegistry);

// True when OpenVPN's installation is found: its licence file in the default folder
// opens, or the registry names a folder that holds openvpn.exe.
bool openVpnInstalled();

// Puts the folder of openvpn.exe at the front of this process's PATH, so that
// "openvpn ..." started by this program or by its batch files finds it. Nothing
// changes where no openvpn.exe is found.
void putOpenVpnOnPath();
