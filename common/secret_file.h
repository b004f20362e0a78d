// Files that hold the name or the password (`unamepass`, the sealed file): each is
// made afresh with its own protected DACL, so that only SYSTEM and the
// Administrators may open it, whatever the folder around it lets other users do.
// A file already at the path is deleted first, never reused: opening it would keep
// the access its maker gave it.
#pragma once

#include <windows.h>

// SYSTEM and the Administrators may do anything with it; nothing is inherited.
#define SECRET_FILE_SECURITY "D:P(A;;FA;;;SY)(A;;FA;;;BA)"

// Writes the whole data into a new file at the path. False when a file there cannot
// be deleted, the new one cannot be made or not all of the data reached it (the
// new file is then deleted again).
bool writeSecretFile(const char* path, const void* data, DWORD size);
