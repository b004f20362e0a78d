#include "discovery.h"

#include <winsock2.h>

#include <cctype>
#include <cstring>

#include "common/values.h"

uint32_t centralIp;

// ping names the resolved address on its first lines: Windows after an empty first
// line, Wine on the first, other languages at another place in the line.
static const int LINES_LOOKED_AT = 4;
static const int LINE_SIZE = 100;
static const size_t WORD_SIZE = 32;

// True for four decimal numbers of 0 to 255 separated by dots, and nothing else.
static bool isDottedQuad(const char* text)
{
    int parts = 0;
    const char* p = text;
    while (true) {
        int digits = 0;
        int value = 0;
        while (isdigit(static_cast<unsigned char>(*p)) && digits < 4) {
            value = value * 10 + (*p - '0');
            ++digits;
            ++p;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        ++parts;
        if (parts == 4)
            return *p == 0;
        if (*p != '.')
            return false;
        ++p;
    }
}

// The address of a word "[a.b.c.d]", or 0 when the word is not one.
static uint32_t bracketedAddress(const char* word, size_t length)
{
    if (length < 3 || length > WORD_SIZE - 1 || word[0] != '[' || word[length - 1] != ']')
        return 0;
    char inner[WORD_SIZE];
    memcpy(inner, word + 1, length - 2);
    inner[length - 2] = 0;
    if (!isDottedQuad(inner))
        return 0;
    uint32_t address = ntohl(inet_addr(inner));
    return address == 0xFFFFFFFFu ? 0 : address;
}

static uint32_t addressInLine(const char* line)
{
    const char* p = line;
    while (*p) {
        while (*p && isspace(static_cast<unsigned char>(*p)))
            ++p;
        const char* word = p;
        while (*p && !isspace(static_cast<unsigned char>(*p)))
            ++p;
        uint32_t address = bracketedAddress(word, static_cast<size_t>(p - word));
        if (address != 0)
            return address;
    }
    return 0;
}

uint32_t addressInPingOutput(FILE* output)
{
    char line[LINE_SIZE];
    for (int i = 0; i < LINES_LOOKED_AT && fgets(line, sizeof line, output); ++i) {
        uint32_t address = addressInLine(line);
        if (address != 0)
            return address;
    }
    return 0;
}

void findCentralServer()
{
    system("ping -n 1 " CENTRAL_HOST " > log");
    centralIp = 0;
    FILE* log = fopen("log", "r");
    if (!log)
        return;
    centralIp = addressInPingOutput(log);
    fclose(log);
}
