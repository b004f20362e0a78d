// The benchmark's baseline: the plainest UDP echo server, one recvfrom and one
// sendto per datagram. Usage: central_echo ADDRESS PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: central_echo ADDRESS PORT\n");
        return 2;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(std::atoi(argv[2])));
    inet_pton(AF_INET, argv[1], &address.sin_addr);
    int bufferSize = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("bind");
        return 1;
    }
    unsigned char buffer[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n >= 0) sendto(fd, buffer, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), length);
    }
}
