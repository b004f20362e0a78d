// Native stand-in for Windows' data protection (CryptProtectData). The sealed form
// keeps Windows' promises that the programs rely on: it does not show the data,
// only the same entropy opens it again, a damaged one does not open, and one sealed
// for a user opens only for that user (machine scope: for everyone on the machine).
#pragma once

#include "windows.h"

typedef struct _CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
} DATA_BLOB;

#define CRYPTPROTECT_UI_FORBIDDEN 0x1
#define CRYPTPROTECT_LOCAL_MACHINE 0x4

BOOL CryptProtectData(DATA_BLOB* data, LPCWSTR description, DATA_BLOB* entropy, void* reserved,
                      void* prompt, DWORD flags, DATA_BLOB* sealed);
BOOL CryptUnprotectData(DATA_BLOB* sealed, LPWSTR* description, DATA_BLOB* entropy,
                        void* reserved, void* prompt, DWORD flags, DATA_BLOB* data);
