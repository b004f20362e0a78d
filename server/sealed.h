// The unattended server's name and password, sealed for this computer with Windows'
// data protection (CryptProtectData, machine scope, a fixed entropy) in a file of the
// server's data folder under %ProgramData%, which only SYSTEM and the Administrators
// may open. The installer has server.exe seal them ("server.exe /seal FILE"); the
// server that Task Scheduler starts when Windows starts ("server.exe /auto") reads
// them back.
#pragma once

#include <windows.h>

#include <string>

#define DATA_FOLDER_NAME "punchvpn server"
#define SEALED_FILE_NAME "credentials.sealed"

// "%ProgramData%\punchvpn server\NAME"; empty when the environment names no
// %ProgramData%.
std::string dataFile(const char* name);

// Makes the data folder when it is missing, with its protection in the same call:
// owned by the Administrators, open to SYSTEM and the Administrators only, nothing
// inherited from %ProgramData%, where every user may make folders and read. One
// that is there already is kept only when SYSTEM, the Administrators or this
// administrator own it and it is no junction or link; it is then given that
// protection again, and the server's files in it the secret files' one. Any other
// is moved aside ("punchvpn server (moved aside)") and made anew, which the log
// says.
bool protectDataFolder();

// True for SYSTEM, the Administrators and the user this process runs as (an
// administrator: both programs run elevated).
bool ownedByAdministrators(PSID owner);

// Seals the name and password (1 to 18 characters each) into the sealed file, whole
// or not at all: when anything fails, an earlier sealed file stays as it was.
bool sealNameAndPassword(const char* name, const char* password);

// Reads them back into name and password (20 bytes each). False when the sealed file
// is missing, cannot be read, is damaged or was sealed on another computer.
bool unsealNameAndPassword(char* name, char* password);

// server.exe /seal FILE [PASSWORDFILE]: seals the name and password on the first two
// lines of FILE, or the name on FILE's first line and the password on
// PASSWORDFILE's. Each file in UTF-8, with or without a byte-order mark, or in
// UTF-16LE with one (as Notepad and PowerShell write); the texts are kept in the
// programs' code page, as the dialog's fields give them. 0 sealed; 2 a file cannot
// be read, is in another encoding or holds no name and password of 1 to 18
// characters of that code page (nothing is written then); 3 the sealed file cannot
// be written.
int sealFromFile(const char* path, const char* passwordPath = nullptr);
