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

namespace platform {

void runAs(const std::string& user) { currentUser() = user; }
void resetSecurity() { currentUser() = "Administrator"; }

} // namespace platform
