// Prints the owner and the access list of a file or folder in SDDL ("O:...D:..."), as
// Windows reads them back, for the tests of who may read or change what the
// installers and programs make. Under Wine a file's access list is its Unix mode:
// an entry for Everyone (WD) stands for the bits of other users.
// Usage: rights PATH   (exit code 0 printed, 1 unreadable, 2 usage)
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: rights PATH\n");
        return 2;
    }
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoA(argv[1], SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr,
                                        &descriptor);
    char* text = nullptr;
    if (error != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, what, &text, nullptr)) {
        fprintf(stderr, "rights: cannot read those of %s (%lu)\n", argv[1],
                error != ERROR_SUCCESS ? error : GetLastError());
        return 1;
    }
    printf("%s\n", text);
    LocalFree(text);
    LocalFree(descriptor);
    return 0;
}
