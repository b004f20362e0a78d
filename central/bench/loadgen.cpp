// Load generator for central (and, for the baseline, an echo server): simulated
// servers on 16 loopback addresses register and refresh names, simulated
// clients on 16 others ask for them, at a paced rate. Every request is matched
// with its answer by name: MSG_REGISTERED (or the echoed MSG_REGISTER) at the
// server's socket, MSG_PEER_ADDRESS (or the echoed MSG_QUERY) at the client's.
//
//   central_loadgen run ADDRESS PORT NAMES RATE SECONDS
//       registers NAMES names, then sends RATE requests a second (half refreshes,
//       half queries) for SECONDS; prints one line: sent, answered per second,
//       p50 and p99 latency, loss.
//   central_loadgen fill ADDRESS PORT NAMES
//       registers NAMES new names as fast as they are answered.
//   central_loadgen relay ADDRESS PORT SIZE RATE SECONDS [pairs]
//       16 pairs of sockets send datagrams of SIZE bytes (OpenVPN-like, never a
//       request), RATE a second in all, half from each side, for SECONDS; prints
//       one line: sent and delivered per second, loss. With "pairs" each pair is
//       first made a relayed pair of central (registered, asked for, both halves
//       offered the relay) and a datagram counts where central passes it, at the
//       other half; without, where an echo server sends it back.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "central/record.h"

using namespace central;

namespace {

constexpr int SOCKETS = 16; // per side
constexpr int BATCH = 32;

int64_t nowUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int openSocket(const std::string& ip) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    int size = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    return fd;
}

void putLittle32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Takes up to BATCH waiting datagrams from fd into data, without waiting; gives how
// many (0 or less: none).
template <size_t SIZE>
int receiveBatch(int fd, mmsghdr (&messages)[BATCH], iovec (&vec)[BATCH], uint8_t (&data)[BATCH][SIZE]) {
    for (int i = 0; i < BATCH; ++i) {
        vec[i] = {data[i], SIZE};
        messages[i].msg_hdr.msg_iov = &vec[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    return recvmmsg(fd, messages, BATCH, MSG_DONTWAIT, nullptr);
}

struct Load {
    sockaddr_in target{};
    int servers[SOCKETS], clients[SOCKETS];
    std::vector<int64_t> registerSent, querySent; // per name, µs; 0: none outstanding
    std::vector<int64_t> latencies;               // µs
    uint64_t sent = 0, answered = 0, serverNotices = 0, received = 0; // received: every datagram

    Load(const char* ip, int port, size_t names) : registerSent(names, 0), querySent(names, 0) {
        target.sin_family = AF_INET;
        target.sin_port = htons(uint16_t(port));
        inet_pton(AF_INET, ip, &target.sin_addr);
        for (int i = 0; i < SOCKETS; ++i) {
            servers[i] = openSocket("127.10.0." + std::to_string(i + 1));
            clients[i] = openSocket("127.20.0." + std::to_string(i + 1));
        }
    }

    // The record for name i: a server's register (from socket i % SOCKETS) or a
    // client's query.
    static void record(uint8_t* out, bool query, size_t name) {
        std::memset(out, 0, SERVER_RECORD_SIZE);
        putLittle32(out, uint32_t(query ? MSG_QUERY : MSG_REGISTER));
        putLittle32(out + 4, uint32_t(MAGIC));
        std::snprintf(reinterpret_cast<char*>(out + NAME_OFFSET), NAME_FIELD, "n%07zu", name);
        std::snprintf(reinterpret_cast<char*>(out + COMPUTER_NAME_OFFSET), COMPUTER_NAME_FIELD, "PC%zu",
                      name % 1000);
    }

    // Sends count requests from one socket: registers of names first, first+step,
    // ... or queries of them.
    void send(int fd, bool query, const std::vector<size_t>& names) {
        mmsghdr messages[BATCH]{};
        iovec vec[BATCH];
        uint8_t data[BATCH][SERVER_RECORD_SIZE];
        int64_t now = nowUs();
        for (size_t i = 0; i < names.size(); ++i) {
            record(data[i], query, names[i]);
            vec[i] = {data[i], query ? CLIENT_RECORD_SIZE : SERVER_RECORD_SIZE};
            messages[i].msg_hdr.msg_name = &target;
            messages[i].msg_hdr.msg_namelen = sizeof target;
            messages[i].msg_hdr.msg_iov = &vec[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            (query ? querySent : registerSent)[names[i]] = now;
        }
        int n = sendmmsg(fd, messages, unsigned(names.size()), 0);
        sent += n > 0 ? unsigned(n) : 0;
    }

    void take(int fd, bool atServer) {
        mmsghdr messages[BATCH]{};
        iovec vec[BATCH];
        uint8_t data[BATCH][128];
        for (;;) {
            int n = receiveBatch(fd, messages, vec, data);
            if (n <= 0) return;
            int64_t now = nowUs();
            received += unsigned(n);
            for (int i = 0; i < n; ++i) {
                if (messages[i].msg_len < CLIENT_RECORD_SIZE) continue;
                int32_t type;
                std::memcpy(&type, data[i], 4);
                size_t name = size_t(std::atol(reinterpret_cast<char*>(data[i] + NAME_OFFSET + 1)));
                if (name >= registerSent.size()) continue;
                bool registerAnswer = atServer && (type == MSG_REGISTERED || type == MSG_REGISTER);
                bool queryAnswer = !atServer && (type == MSG_PEER_ADDRESS || type == MSG_QUERY);
                if (atServer && type == MSG_PEER_ADDRESS) ++serverNotices;
                int64_t* sentAt = registerAnswer ? &registerSent[name] : queryAnswer ? &querySent[name] : nullptr;
                if (!sentAt || *sentAt == 0) continue; // a repeated answer, or not ours
                latencies.push_back(now - *sentAt);
                *sentAt = 0;
                ++answered;
            }
            if (n < BATCH) return;
        }
    }

    void takeAll() {
        for (int i = 0; i < SOCKETS; ++i) {
            take(servers[i], true);
            take(clients[i], false);
        }
    }
};

// Registers names [0, count) with at most `window` unanswered at a time.
void fill(Load& load, size_t count, size_t window) {
    size_t next = 0;
    int64_t started = nowUs(), lastProgress = started;
    uint64_t lastAnswered = 0;
    while (load.answered < count) {
        while (next < count && next - load.answered < window) {
            std::vector<size_t> names;
            int socket = int(next / BATCH % SOCKETS);
            while (names.size() < BATCH && next < count) names.push_back(next++);
            load.send(load.servers[socket], false, names);
        }
        load.takeAll();
        if (load.answered != lastAnswered) {
            lastAnswered = load.answered;
            lastProgress = nowUs();
        } else if (nowUs() - lastProgress > 500000) {
            // Lost: send the unanswered ones of the window again.
            for (size_t i = 0; i < next; ++i)
                if (load.registerSent[i] != 0) load.send(load.servers[i / BATCH % SOCKETS], false, {i});
            lastProgress = nowUs();
            if (lastProgress - started > 120000000) return; // give up after two minutes
        }
    }
}

int run(Load& load, size_t names, double rate, double seconds) {
    fill(load, names, 4096);
    load.sent = load.answered = load.serverNotices = load.received = 0;
    load.latencies.clear();
    int64_t start = nowUs(), end = start + int64_t(seconds * 1e6);
    size_t nextRegister = 0, nextQuery = 0; // each kind walks the names in order
    uint64_t requests = 0, batches = 0;
    for (int64_t now = start; now < end; now = nowUs()) {
        auto due = uint64_t(double(now - start) * rate / 1e6);
        while (requests + BATCH <= due) {
            bool query = batches % 2 == 1;
            size_t& next = query ? nextQuery : nextRegister;
            std::vector<size_t> batch;
            for (int i = 0; i < BATCH; ++i) batch.push_back(next++ % names);
            int socket = int(batches / 2 % SOCKETS);
            load.send(query ? load.clients[socket] : load.servers[socket], query, batch);
            requests += BATCH;
            ++batches;
        }
        load.takeAll();
    }
    int64_t grace = nowUs() + 300000;
    while (nowUs() < grace) load.takeAll();
    double elapsed = seconds;
    std::sort(load.latencies.begin(), load.latencies.end());
    auto percentile = [&](double p) {
        return load.latencies.empty() ? 0.0 : double(load.latencies[size_t(p * double(load.latencies.size() - 1))]) / 1000.0;
    };
    double loss = load.sent ? 100.0 * double(load.sent - load.answered) / double(load.sent) : 0.0;
    std::printf("offered %7.0f/s  sent %7.0f/s  answered %7.0f/s  p50 %7.3f ms  p99 %7.3f ms  loss %5.2f%%  "
                "datagrams back %7.0f/s\n",
                rate, double(load.sent) / elapsed, double(load.answered) / elapsed, percentile(0.5),
                percentile(0.99), loss, double(load.received) / elapsed);
    return 0;
}

// 16 relayed pairs: the server halves on 127.10.0.x, the client halves on 127.20.0.x.
struct Relayed {
    sockaddr_in target{};
    int servers[SOCKETS], clients[SOCKETS];
    uint64_t sent = 0, delivered = 0;

    Relayed(const char* ip, int port) {
        target.sin_family = AF_INET;
        target.sin_port = htons(uint16_t(port));
        inet_pton(AF_INET, ip, &target.sin_addr);
        for (int i = 0; i < SOCKETS; ++i) {
            servers[i] = openSocket("127.10.0." + std::to_string(i + 1));
            clients[i] = openSocket("127.20.0." + std::to_string(i + 1));
        }
    }

    void sendTo(int fd, const uint8_t* data, size_t size) {
        sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    }

    // Counts the datagrams of `size` bytes waiting at fd; returns how many of
    // them were of `type` (records of central), when size is 0.
    uint64_t take(int fd, size_t size, int32_t type = 0) {
        uint8_t data[BATCH][2048];
        mmsghdr messages[BATCH]{};
        iovec vec[BATCH];
        uint64_t found = 0;
        for (;;) {
            int n = receiveBatch(fd, messages, vec, data);
            if (n <= 0) return found;
            for (int i = 0; i < n; ++i) {
                int32_t got;
                std::memcpy(&got, data[i], 4);
                if (size ? messages[i].msg_len == size : got == type) ++found;
            }
        }
    }

    // Registers and asks for one name per pair, then takes the offers as the programs
    // do: each half answers its own with a MSG_PUNCH (the server's answer is what has
    // central offer the client). False when not every half was offered the relay
    // within 3 s.
    bool pairUp() {
        uint8_t record[SERVER_RECORD_SIZE];
        for (int i = 0; i < SOCKETS; ++i) {
            Load::record(record, false, size_t(900000 + i));
            sendTo(servers[i], record, SERVER_RECORD_SIZE);
        }
        usleep(100000);
        for (int i = 0; i < SOCKETS; ++i) {
            Load::record(record, true, size_t(900000 + i));
            sendTo(clients[i], record, CLIENT_RECORD_SIZE);
        }
        uint8_t punch[SERVER_RECORD_SIZE]{};
        int32_t type = MSG_PUNCH, magic = MAGIC;
        std::memcpy(punch, &type, 4);
        std::memcpy(punch + MAGIC_OFFSET, &magic, 4);
        bool serverOffered[SOCKETS]{}, clientOffered[SOCKETS]{};
        int offers = 0;
        for (int64_t end = nowUs() + 3000000; offers < 2 * SOCKETS && nowUs() < end; usleep(1000))
            for (int i = 0; i < SOCKETS; ++i) {
                if (take(servers[i], 0, MSG_PUNCH) && !serverOffered[i]) {
                    sendTo(servers[i], punch, SERVER_RECORD_SIZE);
                    serverOffered[i] = true;
                    ++offers;
                }
                if (take(clients[i], 0, MSG_PUNCH) && !clientOffered[i]) {
                    sendTo(clients[i], punch, CLIENT_RECORD_SIZE);
                    clientOffered[i] = true;
                    ++offers;
                }
            }
        return offers == 2 * SOCKETS;
    }

    void takeAll(size_t size) {
        for (int i = 0; i < SOCKETS; ++i) delivered += take(servers[i], size) + take(clients[i], size);
    }
};

int relay(Relayed& load, size_t size, double rate, double seconds) {
    std::vector<uint8_t> datagram(size, 0x38); // an OpenVPN data packet's first byte
    int64_t start = nowUs(), end = start + int64_t(seconds * 1e6);
    for (int64_t now = start; now < end; now = nowUs()) {
        auto due = uint64_t(double(now - start) * rate / 1e6);
        for (; load.sent < due; ++load.sent) {
            // Numbered, as OpenVPN numbers its packets: never one back as it came.
            std::memcpy(datagram.data() + 1, &load.sent, std::min<size_t>(8, size - 1));
            int pair = int(load.sent / 2 % SOCKETS);
            load.sendTo(load.sent % 2 ? load.servers[pair] : load.clients[pair], datagram.data(), size);
        }
        load.takeAll(size);
    }
    int64_t grace = nowUs() + 300000;
    while (nowUs() < grace) load.takeAll(size);
    std::printf("offered %7.0f/s  sent %7.0f/s  delivered %7.0f/s  loss %5.2f%%\n", rate,
                double(load.sent) / seconds, double(load.delivered) / seconds,
                load.sent ? 100.0 * double(load.sent - std::min(load.sent, load.delivered)) / double(load.sent) : 0.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "run" && argc == 7) {
        Load load(argv[2], std::atoi(argv[3]), size_t(std::atol(argv[4])));
        return run(load, size_t(std::atol(argv[4])), std::atof(argv[5]), std::atof(argv[6]));
    }
    if (mode == "fill" && argc == 5) {
        size_t names = size_t(std::atol(argv[4]));
        Load load(argv[2], std::atoi(argv[3]), names);
        fill(load, names, 4096);
        std::printf("registered %zu of %zu names\n", size_t(load.answered), names);
        return load.answered == names ? 0 : 1;
    }
    if (mode == "relay" && (argc == 7 || (argc == 8 && std::string(argv[7]) == "pairs"))) {
        Relayed load(argv[2], std::atoi(argv[3]));
        if (argc == 8 && !load.pairUp()) {
            std::fprintf(stderr, "central_loadgen: not every pair was offered the relay\n");
            return 1;
        }
        return relay(load, size_t(std::atol(argv[4])), std::atof(argv[5]), std::atof(argv[6]));
    }
    std::fprintf(stderr, "usage: central_loadgen run ADDRESS PORT NAMES RATE SECONDS\n"
                         "       central_loadgen fill ADDRESS PORT NAMES\n"
                         "       central_loadgen relay ADDRESS PORT SIZE RATE SECONDS [pairs]\n");
    return 2;
}
