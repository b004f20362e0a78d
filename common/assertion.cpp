#include "assertion.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

// The source file is named without its directory, as the program's own files are known.
static const char* baseName(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return name;
}

void reportAssertion(const char* expression, const char* file, int line)
{
    char text[300];
    snprintf(text, sizeof text, "Assertion failed: %s, file %s, line %d\n", expression,
             baseName(file), line);
    fputs(text, stderr);
    fflush(stderr);
    OutputDebugStringA(text);
}
