#include "hosts.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>

static bool readWhole(const char* path, std::string& content)
{
    FILE* file = fopen(path, "r");
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

void addHostsEntry()
{
    std::string earlier;
    if (!readWhole(SYSTEM_HOSTS_FILE, earlier)) {
        if (errno == ENOENT)
            writeWhole(SYSTEM_HOSTS_FILE, HOSTS_ENTRY);
        return;
    }
    if (hasEntry(earlier))
        return; // nothing would change
    std::string updated = earlier;
    if (!updated.empty() && updated.back() != '\n')
        updated += '\n'; // the entry must be a line of its own
    updated += HOSTS_ENTRY;

    std::string copy;
    if (!writeWhole(SCRATCH_HOSTS_FILE, updated) || !readWhole(SCRATCH_HOSTS_FILE, copy) ||
        copy != updated)
        return;
    if (!writeWhole(SYSTEM_HOSTS_FILE, copy))
        writeWhole(SYSTEM_HOSTS_FILE, earlier);
}
