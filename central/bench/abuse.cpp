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
//   spoofed-consent: a victim's address is made the client of a pair by one query
//     with its source, and given consent by one more datagram with its source, sent
//     once the server (which takes its offer) has had the client offered; the
//     server then sends 50 datagrams of 1000 bytes. Prints what reached the victim.
//   echo-loop: two hosts that send every datagram back to where it came from, made a
//     pair by one registration and one query; 4 s in (both offers answered), one of
//     them sends one datagram of 100 bytes to central. Prints how many datagrams
//     reached the two hosts in SECONDS.
//   unknown-names: 2,000 addresses send 10 queries each for names nobody holds
//     (central's log lines are counted by the script that runs it).
//
//   central_abuse PORT NET STORY [SECONDS]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "central/bench/host.h"

using namespace central;
using namespace central::bench;

namespace {

constexpr int TUNNEL_DATAGRAMS = 50;
constexpr size_t TUNNEL_SIZE = 1000;

bool isRecord(const std::vector<uint8_t>& datagram) {
    return datagram.size() >= 8 && little32(datagram.data() + MAGIC_OFFSET) == uint32_t(MAGIC);
}

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

void spoofedConsent(int port, const std::string& net) {
    Host server(net + "4.1", 1194, port), victim(net + "4.2", 40000, port);
    server.request(MSG_REGISTER, "consent");
    std::vector<uint8_t> datagram;
    sockaddr_in from{};
    server.receive(1000, datagram, from);
    victim.request(MSG_QUERY, "consent"); // the spoofed query
    bool taken = false, consented = false;
    int64_t start = nowMs();
    while (!consented && nowMs() - start < 6000) {
        if (server.receive(20, datagram, from) && isRecord(datagram) && little32(datagram.data()) == uint32_t(MSG_PUNCH) &&
            !taken) {
            std::vector<uint8_t> answer(SERVER_RECORD_SIZE, 0); // the server's own MSG_PUNCH
            putLittle32(answer.data(), uint32_t(MSG_PUNCH));
            putLittle32(answer.data() + MAGIC_OFFSET, uint32_t(MAGIC));
            for (int i = 0; i < 4; ++i) server.send(answer);
            taken = true;
        }
        if (taken && nowMs() - start >= 4000) {
            victim.send(std::vector<uint8_t>(100, 0x21)); // the spoofed consent
            consented = true;
        }
    }
    while (victim.receive(0, datagram, from)) {
    }
    std::vector<uint8_t> tunnel(TUNNEL_SIZE, 0x38);
    for (int i = 0; i < TUNNEL_DATAGRAMS; ++i) {
        putLittle32(tunnel.data() + 1, uint32_t(i));
        server.send(tunnel);
    }
    int atVictim = 0;
    while (victim.receive(1000, datagram, from)) atVictim += !isRecord(datagram);
    std::printf("spoofed consent: of %d datagrams from the server, %d reached the victim\n", TUNNEL_DATAGRAMS,
                atVictim);
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
        std::fprintf(stderr, "usage: central_abuse PORT NET one-sided|spoofed-consent|echo-loop|unknown-names [SECONDS]\n");
        return 2;
    }
    int port = std::atoi(argv[1]);
    std::string net = "127." + std::string(argv[2]) + ".";
    std::string story = argv[3];
    if (story == "one-sided") oneSided(port, net);
    else if (story == "spoofed-consent") spoofedConsent(port, net);
    else if (story == "echo-loop") echoLoop(port, net, argc > 4 ? std::atoll(argv[4]) : 20);
    else if (story == "unknown-names") unknownNames(port, net);
    else {
        std::fprintf(stderr, "central_abuse: unknown story %s\n", story.c_str());
        return 2;
    }
    return 0;
}
