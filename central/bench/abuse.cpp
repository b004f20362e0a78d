// What central's relay and log withstand, measured from outside against the real
// central, each story on loopback addresses of its own (127.NET.x.y):
//
//   one-sided: a server registers and then only answers what reaches it (a 100-byte
//     answer to each datagram without the magic, as its OpenVPN in server mode would
//     after a punch that got through; central's records reach a socket that drops
//     them). A client asks for the name, answers an offer if one comes within 4 s,
//     and sends 50 datagrams of 1000 bytes to central either way, as its OpenVPN
//     would. Prints whether the client was offered, how many of the 50 reached the
//     server and how many answers came back to the client.
//   echo-loop: two hosts that send every datagram back to where it came from, made a
//     pair by one registration and one query; 4 s in (both offers answered), one of
//     them sends one datagram of 100 bytes to central. Prints how many datagrams
//     reached the two hosts in SECONDS.
//   unknown-names: 2,000 addresses send 10 queries each for names nobody holds
//     (central's log lines are counted by the script that runs it).
//
//   central_abuse PORT NET STORY [SECONDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "central/record.h"

using namespace central;

namespace {

constexpr int TUNNEL_DATAGRAMS = 50;
constexpr size_t TUNNEL_SIZE = 1000;

int64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void putLittle32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t little32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool isRecord(const std::vector<uint8_t>& datagram) {
    return datagram.size() >= 8 && little32(datagram.data() + MAGIC_OFFSET) == uint32_t(MAGIC);
}

struct Host {
    int fd = -1;
    sockaddr_in central{};

    Host(const std::string& ip, uint16_t port, int centralPort) {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::perror(("bind " + ip).c_str());
            std::exit(1);
        }
        central.sin_family = AF_INET;
        central.sin_port = htons(uint16_t(centralPort));
        inet_pton(AF_INET, "127.0.0.1", &central.sin_addr);
    }
    ~Host() { close(fd); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void send(const uint8_t* data, size_t size, const sockaddr_in* to = nullptr) const {
        if (!to) to = &central;
        sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(to), sizeof *to);
    }
    void send(const std::vector<uint8_t>& data, const sockaddr_in* to = nullptr) const {
        send(data.data(), data.size(), to);
    }

    // MSG_REGISTER (with a computer name) or MSG_QUERY.
    void request(int32_t type, const std::string& name) const {
        uint8_t record[SERVER_RECORD_SIZE]{};
        putLittle32(record, uint32_t(type));
        putLittle32(record + MAGIC_OFFSET, uint32_t(MAGIC));
        std::snprintf(reinterpret_cast<char*>(record + NAME_OFFSET), NAME_FIELD, "%s", name.c_str());
        if (type == MSG_REGISTER) std::snprintf(reinterpret_cast<char*>(record + COMPUTER_NAME_OFFSET), 8, "PC01");
        send(record, type == MSG_REGISTER ? SERVER_RECORD_SIZE : CLIENT_RECORD_SIZE);
    }

    // The next datagram within timeoutMs, with its sender; false when none came.
    bool receive(int timeoutMs, std::vector<uint8_t>& datagram, sockaddr_in& from) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        static uint8_t buffer[65536];
        socklen_t length = sizeof from;
        ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) return false;
        datagram.assign(buffer, buffer + n);
        return true;
    }
};

// The server answers what is not a record of central's; the client takes an offer
// and sends its tunnel's datagrams.
void oneSided(int port, const std::string& net) {
    Host server(net + "1.1", 1194, port), client(net + "2.1", 1194, port);
    server.request(MSG_REGISTER, "onesided");
    std::vector<uint8_t> datagram;
    sockaddr_in from{};
    server.receive(1000, datagram, from);
    client.request(MSG_QUERY, "onesided");
    int offers = 0, atServer = 0, atClient = 0;
    bool sent = false;
    for (int64_t start = nowMs(), now = start; now - start < 8000; now = nowMs()) {
        while (server.receive(0, datagram, from))
            if (!isRecord(datagram)) {
                ++atServer;
                server.send(std::vector<uint8_t>(100, 0x48), &from);
            }
        while (client.receive(0, datagram, from)) {
            if (isRecord(datagram) && little32(datagram.data()) == uint32_t(MSG_PUNCH)) {
                if (++offers == 1)
                    for (int i = 0; i < 4; ++i) client.send(datagram);
            } else if (!isRecord(datagram)) {
                ++atClient;
            }
        }
        if (!sent && now - start >= 4000) {
            std::vector<uint8_t> tunnel(TUNNEL_SIZE, 0x38);
            for (int i = 0; i < TUNNEL_DATAGRAMS; ++i) {
                putLittle32(tunnel.data() + 1, uint32_t(i)); // no two alike, as OpenVPN's
                client.send(tunnel);
            }
            sent = true;
        }
        pollfd fds[2] = {{server.fd, POLLIN, 0}, {client.fd, POLLIN, 0}};
        poll(fds, 2, 20);
    }
    std::printf("one-sided pair: offers to the client %d; of %d datagrams from the client, %d reached the "
                "server; %d answers reached the client\n",
                offers, TUNNEL_DATAGRAMS, atServer, atClient);
}

void echoLoop(int port, const std::string& net, int64_t seconds) {
    Host first(net + "3.1", 40000, port), second(net + "3.2", 40000, port);
    first.request(MSG_REGISTER, "echo");
    int64_t start = nowMs();
    bool queried = false, injected = false;
    uint64_t received = 0;
    std::vector<uint8_t> datagram;
    sockaddr_in from{};
    for (int64_t now = start; now - start < seconds * 1000; now = nowMs()) {
        if (!queried && now - start >= 100) {
            second.request(MSG_QUERY, "echo");
            queried = true;
        }
        if (!injected && now - start >= 4000) {
            first.send(std::vector<uint8_t>(100, 0x21));
            injected = true;
        }
        for (Host* host : {&first, &second})
            while (host->receive(0, datagram, from)) {
                ++received;
                host->send(datagram, &from);
            }
        pollfd fds[2] = {{first.fd, POLLIN, 0}, {second.fd, POLLIN, 0}};
        poll(fds, 2, 20);
    }
    std::printf("two echoing hosts: %llu datagrams reached them in %lld s\n", (unsigned long long)received,
                (long long)seconds);
}

void unknownNames(int port, const std::string& net) {
    int64_t start = nowMs();
    for (int address = 0; address < 2000; ++address) {
        Host asker(net + std::to_string(100 + address / 250) + "." + std::to_string(1 + address % 250), 1194, port);
        for (int i = 0; i < 10; ++i) asker.request(MSG_QUERY, "nobody" + std::to_string(i));
    }
    std::printf("unknown names: 20000 queries from 2000 addresses sent in %.1f s\n", (nowMs() - start) / 1000.0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: central_abuse PORT NET one-sided|echo-loop|unknown-names [SECONDS]\n");
        return 2;
    }
    int port = std::atoi(argv[1]);
    std::string net = "127." + std::string(argv[2]) + ".";
    std::string story = argv[3];
    if (story == "one-sided") oneSided(port, net);
    else if (story == "echo-loop") echoLoop(port, net, argc > 4 ? std::atoll(argv[4]) : 20);
    else if (story == "unknown-names") unknownNames(port, net);
    else {
        std::fprintf(stderr, "central_abuse: unknown story %s\n", story.c_str());
        return 2;
    }
    return 0;
}
