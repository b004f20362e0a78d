/* Watches the status line (control 1005) of a program's dialog, for the lab's
 * timeline: prints one line each time the text changes, with the wall time in
 * milliseconds since the Unix epoch, so that the lines of two homes can be merged.
 *   watch CAPTION
 * Output lines: "MS TEXT", TEXT with "\n" and "\\" escaped. While the dialog is in
 * a busy-wait it answers no message; that shows as the pseudo-text "<busy>". A dialog
 * that is not there (yet, or any more) shows as "<gone>". The poll runs every 50 ms,
 * each message with a short timeout, so a text that stands for a tick (one second)
 * is always seen. Runs until killed. */
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#define POLL_MS 50
#define ANSWER_MS 150

static long long epochMs(void)
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    unsigned long long t = ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (long long)(t / 10000ULL) - 11644473600000LL; /* 100 ns since 1601 -> ms since 1970 */
}

/* The status text, "<busy>" or "<gone>". */
static void readStatus(const char *caption, char *text, size_t size)
{
    HWND dialog = FindWindowA(NULL, caption);
    HWND status = dialog ? GetDlgItem(dialog, 1005) : NULL;
    DWORD_PTR length = 0;
    if (!status) {
        snprintf(text, size, "<gone>");
        return;
    }
    text[0] = 0;
    if (!SendMessageTimeoutA(status, WM_GETTEXT, size, (LPARAM)text, SMTO_NORMAL, ANSWER_MS, &length))
        snprintf(text, size, "<busy>");
    else
        text[length < size ? length : size - 1] = 0;
}

static void printEscaped(long long ms, const char *text)
{
    printf("%lld ", ms);
    for (; *text; text++) {
        if (*text == '\n') fputs("\\n", stdout);
        else if (*text == '\r') fputs("\\r", stdout);
        else if (*text == '\\') fputs("\\\\", stdout);
        else putchar(*text);
    }
    putchar('\n');
    fflush(stdout);
}

int main(int argc, char **argv)
{
    char last[512] = "\001", now[512];
    if (argc != 2) {
        fprintf(stderr, "usage: watch CAPTION\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY); /* plain line feeds in the log */
    for (;;) {
        readStatus(argv[1], now, sizeof now);
        if (strcmp(now, last) != 0) {
            printEscaped(epochMs(), now);
            strcpy(last, now);
        }
        Sleep(POLL_MS);
    }
}
