// The stand-in's data protection (CryptProtectData) and security descriptors. A
// descriptor is its SDDL text (see sddl.h). The sealed form is this stand-in's own:
//   "SEALED" | scope ('M' machine, 'U' user) | user name length, user name |
//   entropy hash (8 bytes) | data, masked | checksum of all before it (8 bytes)
#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include "control.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const std::string MAGIC = "SEALED";
const size_t HASH_SIZE = 8;

std::string& currentUser()
{
    static std::string user = "Administrator";
    return user;
}

uint64_t hashOf(const std::string& bytes)
{
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string hashBytes(uint64_t hash) { return std::string(reinterpret_cast<const char*>(&hash), HASH_SIZE); }

std::string bytesOf(const DATA_BLOB* blob)
{
    return blob && blob->pbData ? std::string(reinterpret_cast<const char*>(blob->pbData), blob->cbData) : "";
}

// The data masked with a stream drawn from the entropy's hash; masking twice unmasks.
std::string masked(std::string data, uint64_t key)
{
    for (char& c : data) {
        key = key * 6364136223846793005ull + 1442695040888963407ull;
        c = static_cast<char>(c ^ static_cast<char>(key >> 56));
    }
    return data;
}

BOOL handOut(const std::string& bytes, DATA_BLOB* out)
{
    out->cbData = static_cast<DWORD>(bytes.size());
    out->pbData = static_cast<BYTE*>(malloc(bytes.size() ? bytes.size() : 1));
    memcpy(out->pbData, bytes.data(), bytes.size());
    return TRUE;
}

BOOL invalid()
{
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
}

} // namespace

BOOL CryptProtectData(DATA_BLOB* data, LPCWSTR, DATA_BLOB* entropy, void*, void*, DWORD flags,
                      DATA_BLOB* sealed)
{
    bool machine = flags & CRYPTPROTECT_LOCAL_MACHINE;
    std::string owner = machine ? "" : currentUser();
    uint64_t key = hashOf(bytesOf(entropy));
    std::string bytes = MAGIC + (machine ? 'M' : 'U') + static_cast<char>(owner.size()) + owner +
                        hashBytes(key) + masked(bytesOf(data), key);
    return handOut(bytes + hashBytes(hashOf(bytes)), sealed);
}

BOOL CryptUnprotectData(DATA_BLOB* sealed, LPWSTR*, DATA_BLOB* entropy, void*, void*, DWORD,
                        DATA_BLOB* data)
{
    std::string bytes = bytesOf(sealed);
    size_t head = MAGIC.size() + 2;
    if (bytes.size() < head + 2 * HASH_SIZE || bytes.compare(0, MAGIC.size(), MAGIC) != 0)
        return invalid();
    std::string body = bytes.substr(0, bytes.size() - HASH_SIZE);
    if (bytes.substr(body.size()) != hashBytes(hashOf(body)))
        return invalid();
    size_t ownerSize = static_cast<unsigned char>(bytes[MAGIC.size() + 1]);
    std::string owner = bytes.substr(head, ownerSize);
    bool machine = bytes[MAGIC.size()] == 'M';
    uint64_t key = hashOf(bytesOf(entropy));
    size_t start = head + ownerSize;
    if ((!machine && owner != currentUser()) || body.size() < start + HASH_SIZE ||
        body.substr(start, HASH_SIZE) != hashBytes(key))
        return invalid();
    return handOut(masked(body.substr(start + HASH_SIZE), key), data);
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor, ULONG* size)
{
    if (revision != SDDL_REVISION_1 || !text || !*text) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    *descriptor = strdup(text);
    if (size)
        *size = static_cast<ULONG>(strlen(text) + 1);
    return TRUE;
}

HLOCAL LocalFree(HLOCAL memory)
{
    free(memory);
    return nullptr;
}

static const char* wellKnown(WELL_KNOWN_SID_TYPE type)
{
    return type == WinLocalSystemSid ? "SY" : type == WinBuiltinAdministratorsSid ? "BA" : type == WinWorldSid ? "WD" : "";
}

BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID, PSID sid, DWORD* size)
{
    std::string text = wellKnown(type);
    if (text.empty() || *size < text.size() + 1) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    memcpy(sid, text.c_str(), text.size() + 1);
    return TRUE;
}

BOOL IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    return sid && strcmp(static_cast<const char*>(sid), wellKnown(type)) == 0;
}

BOOL EqualSid(PSID first, PSID second)
{
    return first && second && strcmp(static_cast<const char*>(first), static_cast<const char*>(second)) == 0;
}

// UTF-8 to UTF-16 code units; 0 on a malformed sequence (overlong, surrogate,
// beyond U+10FFFF, cut short) or when the room does not suffice.
int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int size, LPWSTR wide, int wideSize)
{
    if (codePage != CP_UTF8 || size <= 0) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = at + size;
    int count = 0;
    while (at < end) {
        unsigned c = *at++;
        int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (more < 0 || end - at < more)
            return invalid(), 0;
        c &= more == 0 ? 0x7F : 0x3F >> more;
        for (int i = 0; i < more; ++i, ++at) {
            if ((*at & 0xC0) != 0x80)
                return invalid(), 0;
            c = c << 6 | (*at & 0x3F);
        }
        static const unsigned least[] = {0, 0x80, 0x800, 0x10000};
        if (c < least[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return invalid(), 0;
        int units = c >= 0x10000 ? 2 : 1;
        if (count + units > wideSize)
            return invalid(), 0;
        if (units == 2) {
            wide[count++] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            wide[count++] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide[count++] = static_cast<wchar_t>(c);
        }
    }
    return count;
}

int WideCharToMultiByte(UINT codePage, DWORD, const wchar_t* wide, int wideSize, LPSTR text, int size, LPCSTR,
                        BOOL* usedDefaultChar)
{
    if (codePage != CP_ACP || wideSize <= 0 || wideSize > size)
        return invalid(), 0;
    BOOL lost = FALSE;
    for (int i = 0; i < wideSize; ++i) {
        unsigned c = static_cast<unsigned>(wide[i]) & 0xFFFF;
        lost = lost || c > 0xFF;
        text[i] = static_cast<char>(c > 0xFF ? '?' : c);
    }
    if (usedDefaultChar)
        *usedDefaultChar = lost;
    return wideSize;
}

static const HANDLE PROCESS_TOKEN = reinterpret_cast<HANDLE>(0x70);

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(-1); }

BOOL OpenProcessToken(HANDLE, DWORD, HANDLE* token)
{
    *token = PROCESS_TOKEN;
    return TRUE;
}

// The process's user: its SID is the name runAs gave, in this stand-in.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what, void* information, DWORD size,
                         DWORD* needed)
{
    const std::string& user = currentUser();
    *needed = static_cast<DWORD>(sizeof(TOKEN_USER) + user.size() + 1);
    if (token != PROCESS_TOKEN || what != TokenUser || size < *needed) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    TOKEN_USER* tokenUser = static_cast<TOKEN_USER*>(information);
    char* sid = reinterpret_cast<char*>(tokenUser + 1);
    memcpy(sid, user.c_str(), user.size() + 1);
    tokenUser->User = {sid, 0};
    return TRUE;
}

namespace platform {

void runAs(const std::string& user) { currentUser() = user; }
void resetSecurity() { currentUser() = "Administrator"; }

} // namespace platform
