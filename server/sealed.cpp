#include "sealed.h"

#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

// Name and password in the sealed form: two fields of 20 bytes, each a text of 1 to
// 18 characters with its terminating zero, zeros behind.
static const size_t FIELD = 20;
static const size_t LONGEST = 18;
// A sealed name and password takes a few hundred bytes; a larger file is none.
static const size_t SEALED_FILE_LIMIT = 4096;

static const char DATA_FOLDER_SECURITY[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
static const char ENTROPY[] = "punchvpn server unattended start";

std::string dataFile(const char* name)
{
    char folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("ProgramData", folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return "";
    return std::string(folder) + "\\" DATA_FOLDER_NAME "\\" + name;
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
    bool there = CreateDirectoryA(folder.c_str(), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
    bool protectedNow =
        there && SetFileSecurityA(folder.c_str(),
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                      PROTECTED_DACL_SECURITY_INFORMATION,
                                  descriptor);
    LocalFree(descriptor);
    return protectedNow;
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
// holds either its earlier content or all of the new one.
static bool writeWhole(const std::string& path, const BYTE* data, DWORD size)
{
    std::string fresh = path + ".new";
    FILE* file = fopen(fresh.c_str(), "wb");
    if (!file)
        return false;
    bool written = fwrite(data, 1, size, file) == size;
    written = fflush(file) == 0 && written;
    written = fclose(file) == 0 && written;
    if (written &&
        MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
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

// One line of the file, without its line break; false at the end of the file.
static bool readLine(FILE* file, char* line, int size)
{
    if (!fgets(line, size, file))
        return false;
    line[strcspn(line, "\r\n")] = 0;
    return true;
}

int sealFromFile(const char* path)
{
    FILE* file = fopen(path, "r");
    if (!file)
        return 2;
    // Room for a line longer than 18 characters, which is then refused.
    char name[64], password[64];
    bool read = readLine(file, name, sizeof name) && readLine(file, password, sizeof password);
    fclose(file);
    if (!read || !fits(name) || !fits(password))
        return 2;
    return sealNameAndPassword(name, password) ? 0 : 3;
}
