#include "secret_file.h"

#include <sddl.h>

static bool writeAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size && FlushFileBuffers(file);
}

bool writeSecretFile(const char* path, const void* data, DWORD size)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(SECRET_FILE_SECURITY, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    // CREATE_NEW: a file that another user makes at the path between the delete and
    // the create makes the create fail, instead of being written into.
    DeleteFileA(path);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool written = writeAll(file, data, size);
    written = CloseHandle(file) && written;
    if (!written)
        DeleteFileA(path);
    return written;
}
