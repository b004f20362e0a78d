#include "installation.h"

#include <windows.h>

#include <cstdio>
#include <vector>

static bool fileOpens(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    fclose(file);
    return true;
}

// A text value of OpenVPN's registry key, or empty when it is missing or not text.
static std::string registryText(const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, OPENVPN_REGISTRY_KEY, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return "";
    DWORD type = 0;
    DWORD size = 0;
    std::string text;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        std::vector<char> value(size + 1, '\0'); // a stored value need not end in a zero
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ)
            text = value.data();
    }
    RegCloseKey(key);
    return text;
}

// The folder part of a path, without trailing backslashes.
static std::string folderOf(std::string path, bool isFile)
{
    if (isFile) {
        size_t slash = path.find_last_of('\\');
        path = slash == std::string::npos ? "" : path.substr(0, slash);
    }
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

static bool holdsOpenVpn(const std::string& folder)
{
    return !folder.empty() && fileOpens(folder + "\\openvpn.exe");
}

std::string openVpnBinFolder(bool& fromRegistry)
{
    fromRegistry = true;
    std::string folder = folderOf(registryText("exe_path"), true);
    if (holdsOpenVpn(folder))
        return folder;
    folder = folderOf(registryText("bin_dir"), false);
    if (holdsOpenVpn(folder))
        return folder;
    fromRegistry = false;
    return holdsOpenVpn(OPENVPN_DEFAULT_BIN_FOLDER) ? OPENVPN_DEFAULT_BIN_FOLDER : "";
}

bool openVpnInstalled()
{
    bool fromRegistry = false;
    std::string folder = openVpnBinFolder(fromRegistry);
    return fileOpens(OPENVPN_PROBE_FILE) || (!folder.empty() && fromRegistry);
}

void putOpenVpnOnPath()
{
    bool fromRegistry = false;
    std::string folder = openVpnBinFolder(fromRegistry);
    if (folder.empty())
        return;
    std::string path = folder;
    DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (size > 0) {
        std::vector<char> earlier(size, '\0');
        DWORD length = GetEnvironmentVariableA("PATH", earlier.data(), size);
        if (length > 0 && length < size)
            path += ";" + std::string(earlier.data(), length);
    }
    SetEnvironmentVariableA("PATH", path.c_str());
}
