#include "discovery.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/values.h"
#include "udp/udp.h"

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

static bool isBracketed(const char* word, size_t length)
{
    return length >= 3 && word[0] == '[' && word[length - 1] == ']';
}

// The address of a word "[a.b.c.d]", or 0 when the word is not one.
static uint32_t bracketedAddress(const char* word, size_t length)
{
    if (!isBracketed(word, length) || length > WORD_SIZE - 1)
        return 0;
    char inner[WORD_SIZE];
    memcpy(inner, word + 1, length - 2);
    inner[length - 2] = 0;
    if (!isDottedQuad(inner))
        return 0;
    uint32_t address = udpAddress(inner);
    return address == 0xFFFFFFFFu ? 0 : address;
}

// The first IPv4 address in brackets in the line, or 0; `announced` is set when the
// line has any word in brackets (ping announces the name's address so).
static uint32_t addressInLine(const char* line, bool& announced)
{
    const char* p = line;
    while (*p) {
        while (*p && isspace(static_cast<unsigned char>(*p)))
            ++p;
        const char* word = p;
        while (*p && !isspace(static_cast<unsigned char>(*p)))
            ++p;
        size_t length = static_cast<size_t>(p - word);
        announced = announced || isBracketed(word, length);
        uint32_t address = bracketedAddress(word, length);
        if (address != 0)
            return address;
    }
    return 0;
}

// Runs ping with its output in `log` and gives the IPv4 address it announced, or 0.
static uint32_t askPing(const char* commandLine, bool& announced)
{
    announced = false;
    system(commandLine);
    FILE* log = fopen("log", "r");
    if (!log)
        return 0;
    uint32_t address = 0;
    char line[LINE_SIZE];
    for (int i = 0; i < LINES_LOOKED_AT && address == 0 && fgets(line, sizeof line, log); ++i)
        address = addressInLine(line, announced);
    fclose(log);
    return address;
}

void findCentralServer()
{
    bool announced;
    centralIp = askPing("ping -n 1 " CENTRAL_HOST " > log", announced);
    // A name that has an IPv6 address as well is announced by that one: ask for IPv4.
    if (centralIp == 0 && announced)
        centralIp = askPing("ping -4 -n 1 " CENTRAL_HOST " > log", announced);
}
