// Native stand-in for <sddl.h>: a security descriptor made from its SDDL text. In
// this stand-in the descriptor is that text itself, which the objects and folders
// it is given to keep for a test to read.
#pragma once

#include "windows.h"

#define SDDL_REVISION_1 1

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size);
