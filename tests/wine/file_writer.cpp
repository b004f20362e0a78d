// Writes op.bat and unamepass in the working directory as the client does at Connect,
// with the Windows C runtime's text mode, so that a test can compare their bytes.
// Usage: file_writer   (exit code 0 when both files were written)
#include <cstdio>

#include "rendezvous/openvpn.h"

int main()
{
    const uint32_t server = (192u << 24) | (168u << 16) | (1u << 8) | 20u; // 192.168.1.20
    bool opBat = writeOpBat(server, 5000);
    bool unamepass = writeUserNamePassword("office", "secret");
    if (!opBat)
        fprintf(stderr, "op.bat not written\n");
    if (!unamepass)
        fprintf(stderr, "unamepass not written\n");
    return opBat && unamepass ? 0 : 1;
}
