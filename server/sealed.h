// The unattended server's name and password, sealed for this computer with Windows'
// data protection (CryptProtectData, machine scope, a fixed entropy) in a file of the
// server's data folder under %ProgramData%, which only SYSTEM and the Administrators
// may open. The installer has server.exe seal them ("server.exe /seal FILE"); the
// server that Task Scheduler starts when Windows starts ("server.exe /auto") reads
// them back.
#pragma once

#include <string>

#define DATA_FOLDER_NAME "punchvpn server"
#define SEALED_FILE_NAME "credentials.sealed"

// "%ProgramData%\punchvpn server\NAME"; empty when the environment names no
// %ProgramData%.
std::string dataFile(const char* name);

// Makes the data folder when it is missing and gives it its protection, also when it
// was there already (made by whomever): owned by the Administrators, open to SYSTEM
// and the Administrators only, nothing inherited from %ProgramData%, where every
// user may read.
bool protectDataFolder();

// Seals the name and password (1 to 18 characters each) into the sealed file, whole
// or not at all: when anything fails, an earlier sealed file stays as it was.
bool sealNameAndPassword(const char* name, const char* password);

// Reads them back into name and password (20 bytes each). False when the sealed file
// is missing, cannot be read, is damaged or was sealed on another computer.
bool unsealNameAndPassword(char* name, char* password);

// server.exe /seal FILE: seals the name and password on the first two lines of FILE.
// 0 sealed; 2 FILE cannot be read or holds no name and password of 1 to 18
// characters; 3 the sealed file cannot be written.
int sealFromFile(const char* path);
