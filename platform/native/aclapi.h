// Native stand-in for <aclapi.h>: the owner of a file or folder (as control.h's
// setFileOwner made it, else as its descriptor names it, else the Administrators) and
// of a named mutex or event (as it was made with, else the Administrators).
#pragma once

#include "windows.h"

typedef enum { SE_FILE_OBJECT = 1, SE_KERNEL_OBJECT = 6 } SE_OBJECT_TYPE;
typedef void* PACL;

DWORD GetNamedSecurityInfoA(LPCSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                            PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                      PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
