#include "sealed.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/secret_file.h"
#include "server/unattended.h"

// Name and password in the sealed form: two fields of 20 bytes, each a text of 1 to
// 18 characters with its terminating zero, zeros behind.
static const size_t FIELD = 20;
static const size_t LONGEST = 18;
// A sealed name and password takes a few hundred bytes; a larger file is none.
static const size_t SEALED_FILE_LIMIT = 4096;

static const char DATA_FOLDER_SECURITY[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// Each file the server keeps in its data folder, given the secret files' protection
// when the folder is found already there.
static const char* const DATA_FILES[] = {SEALED_FILE_NAME, SEALED_FILE_NAME ".new", "task.xml",
                                         "unattended.log", "unattended.log.old"};
static const char ENTROPY[] = "punchvpn server unattended start";
// "punchvpn server (moved aside)", then " 2" to " 9" within the brackets.
static const int ASIDE_NAMES = 9;

std::string dataFile(const char* name)
{
    char folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("ProgramData", folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return "";
    return std::string(folder) + "\\" DATA_FOLDER_NAME "\\" + name;
}

// The user this process runs as, into a buffer of `size` bytes.
static PSID processUser(BYTE* buffer, DWORD size)
{
    HANDLE token = nullptr;
    DWORD needed = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    bool read = GetTokenInformation(token, TokenUser, buffer, size, &needed);
    CloseHandle(token);
    return read ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid : nullptr;
}

bool ownedByAdministrators(PSID owner)
{
    BYTE buffer[256];
    PSID self = processUser(buffer, sizeof buffer);
    return owner && (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                     (self && EqualSid(owner, self)));
}

// A folder that SYSTEM, the Administrators or this administrator made, and no
// junction or link to another place: nobody else can have put files into it that
// they can still open, unless an administrator let them.
static bool trustedFolder(const std::string& folder)
{
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool trusted = ownedByAdministrators(owner);
    LocalFree(descriptor);
    return trusted;
}

// Gives the folder its protection, and each of the server's files in it the secret
// files' protection; a file that cannot take it is deleted. False when one can be
// neither protected nor deleted.
static bool protectFolderAndFiles(const std::string& folder, PSECURITY_DESCRIPTOR folderSecurity)
{
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    if (!SetFileSecurityA(folder.c_str(), what, folderSecurity))
        return false;
    PSECURITY_DESCRIPTOR fileSecurity = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BA" SECRET_FILE_SECURITY, SDDL_REVISION_1,
                                                              &fileSecurity, nullptr))
        return false;
    bool protectedAll = true;
    for (const char* name : DATA_FILES) {
        std::string path = folder + "\\" + name;
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
            !SetFileSecurityA(path.c_str(), what, fileSecurity) && !DeleteFileA(path.c_str()))
            protectedAll = false;
    }
    LocalFree(fileSecurity);
    return protectedAll;
}

// Renames the folder to the first free "punchvpn server (moved aside[ N])" beside it;
// the name it got, or empty.
static std::string moveAside(const std::string& folder)
{
    for (int n = 1; n <= ASIDE_NAMES; ++n) {
        std::string aside = folder + " (moved aside" + (n == 1 ? "" : " " + std::to_string(n)) + ")";
        if (MoveFileExA(folder.c_str(), aside.c_str(), 0))
            return aside;
    }
    return "";
}

bool protectDataFolder()
{
    std::string folder = dataFile("");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (folder.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                              DATA_FOLDER_SECURITY, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    folder.pop_back(); // the backslash
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    std::string aside;
    bool made = CreateDirectoryA(folder.c_str(), &attributes);
    if (!made && GetLastError() == ERROR_ALREADY_EXISTS) {
        made = trustedFolder(folder) && protectFolderAndFiles(folder, descriptor);
        if (!made) {
            aside = moveAside(folder);
            made = !aside.empty() && CreateDirectoryA(folder.c_str(), &attributes);
        }
    }
    LocalFree(descriptor);
    if (made && !aside.empty())
        logLine(("the data folder was there already, made by another user or as a link elsewhere: "
                 "moved aside to " + aside + " and made anew").c_str());
    return made;
}

static bool fits(const char* text)
{
    size_t length = strlen(text);
    return length >= 1 && length <= LONGEST;
}

static DATA_BLOB entropy()
{
    return {sizeof ENTROPY - 1, reinterpret_cast<BYTE*>(const_cast<char*>(ENTROPY))};
}

// Writes a fresh file beside the path and moves it over the path, so that the path
// holds either its earlier content or all of the new one. The moved file keeps the
// protection it was made with.
static bool writeWhole(const std::string& path, const BYTE* data, DWORD size)
{
    std::string fresh = path + ".new";
    if (!writeSecretFile(fresh.c_str(), data, size))
        return false;
    if (MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(fresh.c_str());
    return false;
}

bool sealNameAndPassword(const char* name, const char* password)
{
    if (!fits(name) || !fits(password) || !protectDataFolder())
        return false;
    char plain[2 * FIELD] = {};
    strcpy(plain, name);
    strcpy(plain + FIELD, password);
    DATA_BLOB data = {sizeof plain, reinterpret_cast<BYTE*>(plain)};
    DATA_BLOB key = entropy();
    DATA_BLOB sealed = {};
    if (!CryptProtectData(&data, nullptr, &key, nullptr, nullptr,
                          CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &sealed))
        return false;
    bool written = writeWhole(dataFile(SEALED_FILE_NAME), sealed.pbData, sealed.cbData);
    LocalFree(sealed.pbData);
    return written;
}

static bool readSealedFile(std::vector<BYTE>& bytes)
{
    FILE* file = fopen(dataFile(SEALED_FILE_NAME).c_str(), "rb");
    if (!file)
        return false;
    bytes.resize(SEALED_FILE_LIMIT + 1);
    size_t size = fread(bytes.data(), 1, bytes.size(), file);
    bool read = !ferror(file) && size > 0 && size <= SEALED_FILE_LIMIT;
    fclose(file);
    bytes.resize(size);
    return read;
}

// A field of the sealed form: a text of 1 to 18 characters.
static bool isField(const BYTE* field)
{
    return field[0] != 0 && memchr(field, 0, LONGEST + 1) != nullptr;
}

bool unsealNameAndPassword(char* name, char* password)
{
    std::vector<BYTE> bytes;
    if (!readSealedFile(bytes))
        return false;
    DATA_BLOB sealed = {static_cast<DWORD>(bytes.size()), bytes.data()};
    DATA_BLOB key = entropy();
    DATA_BLOB data = {};
    if (!CryptUnprotectData(&sealed, nullptr, &key, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &data))
        return false;
    bool whole = data.cbData == 2 * FIELD && isField(data.pbData) && isField(data.pbData + FIELD);
    if (whole) {
        memcpy(name, data.pbData, FIELD);
        memcpy(password, data.pbData + FIELD, FIELD);
    }
    LocalFree(data.pbData);
    return whole;
}

// The whole file, at most a few kilobytes (a name or password file is one or two
// short lines); false when it cannot be read or is larger.
static bool readSmallFile(const char* path, std::string& bytes)
{
    const size_t limit = 4096;
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    bytes.resize(limit + 1);
    size_t size = fread(&bytes[0], 1, bytes.size(), file);
    bool read = !ferror(file) && size <= limit;
    fclose(file);
    bytes.resize(size);
    return read;
}

// The text of a file as Notepad and PowerShell write it: UTF-16LE after its
// byte-order mark, else UTF-8 with or without one. False for anything else.
static bool decodeText(const std::string& bytes, std::wstring& text)
{
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (bytes.size() % 2 != 0)
            return false;
        text.clear();
        for (size_t i = 2; i < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
        return true;
    }
    std::string utf8 = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    text.assign(utf8.size(), L'\0');
    int length = utf8.empty() ? 0
                              : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                                    static_cast<int>(utf8.size()), &text[0],
                                                    static_cast<int>(text.size()));
    text.resize(length);
    return length > 0 || utf8.empty();
}

// A line of the text (counted from 0) in the programs' code page, as the dialog's
// fields give it; false when it is missing, holds a zero or has a character the code
// page lacks.
static bool lineOf(const std::wstring& text, int number, std::string& line)
{
    size_t start = 0;
    for (int n = 0; n < number; ++n) {
        start = text.find(L'\n', start);
        if (start == std::wstring::npos)
            return false;
        ++start;
    }
    std::wstring wide = text.substr(start, text.find(L'\n', start) - start);
    if (!wide.empty() && wide.back() == L'\r')
        wide.pop_back();
    line.clear();
    if (wide.empty())
        return true; // refused as too short by the caller
    if (wide.find(L'\0') != std::wstring::npos)
        return false;
    BOOL lossy = FALSE;
    line.assign(4 * wide.size(), '\0');
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                     &line[0], static_cast<int>(line.size()), nullptr, &lossy);
    line.resize(length > 0 ? length : 0);
    return length > 0 && !lossy;
}

// Line `number` of the file at path, decoded; false when it cannot be read or decoded.
static bool readLine(const char* path, int number, std::string& line)
{
    std::string bytes;
    std::wstring text;
    return readSmallFile(path, bytes) && decodeText(bytes, text) && lineOf(text, number, line);
}

int sealFromFile(const char* path, const char* passwordPath)
{
    std::string name, password;
    bool read = readLine(path, 0, name) &&
                (passwordPath ? readLine(passwordPath, 0, password) : readLine(path, 1, password));
    if (!read || !fits(name.c_str()) || !fits(password.c_str()))
        return 2;
    return sealNameAndPassword(name.c_str(), password.c_str()) ? 0 : 3;
}
