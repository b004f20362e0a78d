// What one datagram with an address as its source makes central send to that
// address, when the address itself never sends again (a spoofed source), and
// others do their best to make the most of it. Three stories at once against the
// real central, each silent address on a loopback address of its own:
//
//   registered, then asked for: 127.NET.1.1 sends one MSG_REGISTER ("victim");
//     an asker (127.NET.9.1) asks for the name every ASK_MS from FIRST_ASK_MS on
//     (after the registration's keepalive, so that it comes too), answers every
//     relay offer four times as the programs do and sends 50 datagrams of 1000
//     bytes through it before it asks again.
//   registered only: 127.NET.2.1 sends one MSG_REGISTER ("quiet"); nobody asks.
//   asked: a server (127.NET.9.2) registers "bait"; 127.NET.3.1 sends one
//     MSG_QUERY for it; the server answers the offer four times and sends 50
//     datagrams of 1000 bytes through it.
//
//   central_spoof PORT NET SECONDS
//       plays the stories against central at 127.0.0.1:PORT for SECONDS and prints,
//       per story, what reached the silent address: datagrams and bytes of each
//       kind (central's records by type, keepalives, anything else: relayed).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "central/bench/host.h"

using namespace central;
using namespace central::bench;

namespace {

// Over central's default --peer-interval and --relay-after (a query from the asker
// ends its relay).
constexpr int64_t ASK_MS = 3000;
constexpr int64_t FIRST_ASK_MS = 16000; // after central's default --keepalive
// The name in the stories' own MSG_PUNCH, which tells them from central's when
// central passes them on.
const char* const RELAYED_NAME = "relayed";
constexpr int BURST = 50;
constexpr size_t BURST_SIZE = 1000;

struct Socket : Host {
    int64_t offerTakenAt = -1000000;

    using Host::Host;

    // What the programs do with an offer: answer it four times, then the tunnel
    // (here 50 datagrams of 1000 bytes). The offer's repeat is not taken again.
    void takeOffer() {
        if (nowMs() - offerTakenAt < 1000) return;
        offerTakenAt = nowMs();
        uint8_t punch[CLIENT_RECORD_SIZE]{};
        putLittle32(punch, uint32_t(MSG_PUNCH));
        putLittle32(punch + MAGIC_OFFSET, uint32_t(MAGIC));
        std::strcpy(reinterpret_cast<char*>(punch + NAME_OFFSET), RELAYED_NAME);
        for (int i = 0; i < 4; ++i) send(punch, sizeof punch);
        uint8_t data[BURST_SIZE];
        std::memset(data, 0x38, sizeof data); // an OpenVPN data packet's first byte
        for (int i = 0; i < BURST; ++i) send(data, sizeof data);
    }
};

// What reached one silent address, by kind.
struct Tally {
    std::map<std::string, std::pair<uint64_t, uint64_t>> kinds; // datagrams, bytes

    void count(const uint8_t* data, size_t size) {
        static const char* const types[] = {"?", "MSG_REGISTER", "MSG_REGISTERED", "MSG_QUERY",
                                            "MSG_NAME_TAKEN", "MSG_PEER_ADDRESS", "MSG_PUNCH"};
        std::string kind = "relayed";
        uint8_t zeros[ANSWER_SIZE]{};
        if (size == ANSWER_SIZE && std::memcmp(data, zeros, size) == 0) kind = "keepalive";
        else if (size == ANSWER_SIZE && little32(data + MAGIC_OFFSET) == uint32_t(MAGIC) &&
                 little32(data) >= 1 && little32(data) <= 6 &&
                 std::strcmp(reinterpret_cast<const char*>(data + NAME_OFFSET), RELAYED_NAME) != 0)
            kind = types[little32(data)];
        ++kinds[kind].first;
        kinds[kind].second += size;
    }

    void print(const char* story) const {
        uint64_t datagrams = 0, bytes = 0;
        std::printf("%s:", story);
        for (const auto& [kind, n] : kinds) {
            std::printf(" %s %llu (%llu B),", kind.c_str(), (unsigned long long)n.first,
                        (unsigned long long)n.second);
            datagrams += n.first;
            bytes += n.second;
        }
        std::printf(" in all %llu datagrams, %llu bytes\n", (unsigned long long)datagrams,
                    (unsigned long long)bytes);
    }
};

// Takes what waits at fd: counted into tally, or (tally nullptr) looked at for
// offers, which the socket then takes.
void take(Socket& socket, Tally* tally) {
    static uint8_t data[65536];
    for (;;) {
        ssize_t n = recv(socket.fd, data, sizeof data, 0);
        if (n < 0) return;
        if (tally) tally->count(data, size_t(n));
        else if (n == ANSWER_SIZE && little32(data) == uint32_t(MSG_PUNCH)) socket.takeOffer();
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: central_spoof PORT NET SECONDS\n");
        return 2;
    }
    int port = std::atoi(argv[1]);
    std::string net = "127." + std::string(argv[2]) + ".";
    int64_t end = nowMs() + int64_t(std::atof(argv[3]) * 1000);
    Socket registered(net + "1.1", 1194, port), quiet(net + "2.1", 1194, port), asked(net + "3.1", 1194, port);
    Socket asker(net + "9.1", 40000, port), bait(net + "9.2", 1194, port);
    Tally toRegistered, toQuiet, toAsked;

    registered.request(MSG_REGISTER, "victim");
    quiet.request(MSG_REGISTER, "quiet");
    bait.request(MSG_REGISTER, "bait");
    int64_t nextAsk = nowMs() + FIRST_ASK_MS;
    bool baitAsked = false;
    for (int64_t now = nowMs(); now < end; now = nowMs()) {
        if (now >= nextAsk) {
            asker.request(MSG_QUERY, "victim");
            nextAsk = now + ASK_MS;
        }
        if (!baitAsked) {
            asked.request(MSG_QUERY, "bait");
            baitAsked = true;
        }
        pollfd fds[5] = {{registered.fd, POLLIN, 0}, {quiet.fd, POLLIN, 0}, {asked.fd, POLLIN, 0},
                         {asker.fd, POLLIN, 0},      {bait.fd, POLLIN, 0}};
        poll(fds, 5, 50);
        take(registered, &toRegistered);
        take(quiet, &toQuiet);
        take(asked, &toAsked);
        take(asker, nullptr);
        take(bait, nullptr);
    }
    toRegistered.print("one MSG_REGISTER, asked for every 3 s from 16 s on");
    toQuiet.print("one MSG_REGISTER, never asked for");
    toAsked.print("one MSG_QUERY");
    return 0;
}
