/* Starts a command line the way the programs do, for the lab's checks under Wine:
 *   launch winexec "COMMAND LINE"   WinExec with the window hidden (SW_HIDE), no wait
 *   launch shown "COMMAND LINE"     WinExec with the window shown (SW_SHOW), no wait
 *   launch system "COMMAND LINE"    the C library's system, through the command interpreter
 * Exit code: 0 when the command was started, 1 otherwise. Built as a windowed program
 * (-mwindows), like client.exe and server.exe: a command it starts gets a console
 * window of its own rather than the caller's terminal. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: launch winexec|shown|system \"COMMAND LINE\"\n");
        return 2;
    }
    if (strcmp(argv[1], "system") == 0)
        return system(argv[2]) == -1;
    if (strcmp(argv[1], "winexec") == 0 || strcmp(argv[1], "shown") == 0) {
        UINT show = strcmp(argv[1], "shown") == 0 ? SW_SHOW : SW_HIDE;
        UINT result = WinExec(argv[2], show);
        if (result <= 31) {
            fprintf(stderr, "launch: WinExec gave %u\n", result);
            return 1;
        }
        return 0;
    }
    fprintf(stderr, "launch: unknown mode %s\n", argv[1]);
    return 2;
}
