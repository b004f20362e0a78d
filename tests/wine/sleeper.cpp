// A Windows process that only waits: started under other image names, it gives
// the stop command something to end. Prints "ready" once it runs, then exits 0
// after the given seconds (default 60).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 60;
    printf("ready\n");
    fflush(stdout);
    Sleep(seconds * 1000);
    return 0;
}
