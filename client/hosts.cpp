#include "hosts.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>

// Reads the whole file in the mode given ("r" as text, "rb" as bytes). False when it
// cannot be opened or read; `missing` tells that the open failed because the file does
// not exist, the one case in which the system hosts file may be created.
static bool readWhole(const char* path, const char* mode, std::string& content, bool& missing)
{
    errno = 0;
    FILE* file = fopen(path, mode);
    missing = !file && errno == ENOENT;
    if (!file)
        return false;
    content.clear();
    char piece[100];
    size_t n;
    while ((n = fread(piece, 1, sizeof piece, file)) > 0)
        content.append(piece, n);
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

static bool writeWhole(const char* path, const std::string& content)
{
    FILE* file = fopen(path, "w");
    if (!file)
        return false;
    bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
    ok = fflush(file) == 0 && ok;
    return fclose(file) == 0 && ok;
}

// A line is the entry when it begins with the address and the address ends there:
// a line for 10.8.0.10 does not make Server resolve.
static bool isEntryLine(const std::string& content, size_t start)
{
    static const std::string ADDRESS = "10.8.0.1";
    if (content.compare(start, ADDRESS.size(), ADDRESS) != 0)
        return false;
    size_t next = start + ADDRESS.size();
    return next == content.size() || content[next] == ' ' || content[next] == '\t' ||
           content[next] == '\n' || content[next] == '\r';
}

static bool hasEntry(const std::string& content)
{
    for (size_t start = 0; start < content.size();) {
        if (isEntryLine(content, start))
            return true;
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}

// A read as text ends at a Ctrl-Z (0x1A): with one before the last byte, the text
// read would miss the rest of the file, and writing it back would cut the file there.
static bool hasCtrlZBeforeItsEnd(const std::string& bytes)
{
    size_t ctrlZ = bytes.find('\x1A');
    return ctrlZ != std::string::npos && ctrlZ + 1 < bytes.size();
}

void addHostsEntry()
{
    std::string bytes;
    bool missing;
    if (!readWhole(SYSTEM_HOSTS_FILE, "rb", bytes, missing)) {
        if (missing)
            writeWhole(SYSTEM_HOSTS_FILE, HOSTS_ENTRY);
        return;
    }
    std::string earlier;
    if (hasCtrlZBeforeItsEnd(bytes) || !readWhole(SYSTEM_HOSTS_FILE, "r", earlier, missing))
        return;
    if (hasEntry(earlier))
        return; // nothing would change
    std::string updated = earlier;
    if (!updated.empty() && updated.back() != '\n')
        updated += '\n'; // the entry must be a line of its own
    updated += HOSTS_ENTRY;

    std::string copy;
    if (!writeWhole(SCRATCH_HOSTS_FILE, updated) ||
        !readWhole(SCRATCH_HOSTS_FILE, "r", copy, missing) || copy != updated)
        return;
    if (!writeWhole(SYSTEM_HOSTS_FILE, copy))
        writeWhole(SYSTEM_HOSTS_FILE, earlier);
}
