#include "central/service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

#include "central/handler.h"

namespace central {

namespace {

constexpr int BATCH = 64;             // datagrams taken or sent per system call
constexpr int ROUNDS = 16;            // batches taken before the timers are looked at again
constexpr size_t MAX_REPEATS = 65536; // answers waiting to be sent again
// Room for the largest UDP datagram over IPv4 (65507 bytes), so that no datagram is
// ever cut short: relay traffic is passed on whole or not at all.
constexpr size_t DATAGRAM_CAPACITY = 65536;

int64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

sockaddr_in socketAddress(Endpoint endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.ip);
    address.sin_port = htons(endpoint.port);
    return address;
}

// A datagram of the batch at hand to pass on unchanged.
struct Forward {
    Endpoint to;
    int slot; // its place in the batch
};

class Service {
public:
    Service(const Options& options, int socket, int signals)
        : options_(options), log_(stderr, !options.quiet), handler_(options.settings, log_), socket_(socket),
          signals_(signals), inData_(BATCH * DATAGRAM_CAPACITY) {
        for (int i = 0; i < BATCH; ++i) {
            inVec_[i] = {&inData_[i * DATAGRAM_CAPACITY], DATAGRAM_CAPACITY};
            in_[i].msg_hdr.msg_iov = &inVec_[i];
            in_[i].msg_hdr.msg_iovlen = 1;
        }
        answers_.reserve(2 * BATCH);
        forwards_.reserve(BATCH);
    }

    int run();

private:
    void receive(int64_t now);
    void send(const std::vector<Answer>& answers);
    void sendAndRepeat(const std::vector<Answer>& answers, int64_t now);
    void sendForwards();
    void sendBatch(mmsghdr* out, int count);
    void fragmenting(bool on);
    void sendRepeats(int64_t now);
    int pollTimeout(int64_t now) const;

    const Options& options_;
    EventLog log_;
    Handler handler_;
    int socket_;
    int signals_;
    mmsghdr in_[BATCH]{};
    iovec inVec_[BATCH]{};
    std::vector<uint8_t> inData_;
    sockaddr_in inFrom_[BATCH]{};
    std::vector<Answer> answers_;
    std::vector<Forward> forwards_;
    bool fragmenting_ = false;
    std::deque<std::pair<int64_t, Answer>> repeats_;
    int64_t nextSweep_ = 0;
    int64_t nextStats_ = 0;
    uint64_t sendFailures_ = 0;
    uint64_t repeatsSkipped_ = 0;
};

// What central sends itself (answers, offers) goes as probes: "don't fragment", the
// path MTU ignored, IP identification 0 (see serve). What it passes on through a relay
// goes as the ends sent it, without "don't fragment", so that the kernel and the routers
// fragment what does not fit a link, as they would on a direct path between the ends;
// with "don't fragment" a datagram that arrived in fragments (OpenVPN's full-sized
// ones) could not leave at all, and one too large for a smaller link beyond central
// would vanish there. The socket switches only when the kind of traffic changes.
void Service::fragmenting(bool on) {
    if (on == fragmenting_) return;
    int mode = on ? IP_PMTUDISC_OMIT : IP_PMTUDISC_PROBE;
    setsockopt(socket_, IPPROTO_IP, IP_MTU_DISCOVER, &mode, sizeof mode);
    fragmenting_ = on;
}

void Service::sendBatch(mmsghdr* out, int count) {
    int sent = 0;
    while (sent < count) {
        int n = sendmmsg(socket_, out + sent, unsigned(count - sent), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The datagram at `sent` cannot go (full buffer or an unreachable
            // destination); skip it and go on with the rest.
            ++sendFailures_;
            ++sent;
            continue;
        }
        sent += n;
    }
}

void Service::send(const std::vector<Answer>& answers) {
    mmsghdr out[BATCH]{};
    iovec vec[BATCH];
    sockaddr_in to[BATCH];
    if (!answers.empty()) fragmenting(false);
    for (size_t first = 0; first < answers.size(); first += BATCH) {
        int count = int(std::min<size_t>(BATCH, answers.size() - first));
        for (int i = 0; i < count; ++i) {
            const Answer& answer = answers[first + i];
            to[i] = socketAddress(answer.to);
            vec[i] = {const_cast<uint8_t*>(answer.bytes.data()), answer.bytes.size()};
            out[i].msg_hdr = {};
            out[i].msg_hdr.msg_name = &to[i];
            out[i].msg_hdr.msg_namelen = sizeof to[i];
            out[i].msg_hdr.msg_iov = &vec[i];
            out[i].msg_hdr.msg_iovlen = 1;
        }
        sendBatch(out, count);
    }
}

void Service::sendAndRepeat(const std::vector<Answer>& answers, int64_t now) {
    send(answers);
    if (options_.repeatDelayMs == 0) return;
    for (const Answer& answer : answers) {
        if (repeats_.size() >= MAX_REPEATS) {
            ++repeatsSkipped_;
            continue;
        }
        repeats_.emplace_back(now + options_.repeatDelayMs, answer);
    }
}

// The datagrams of the batch just taken that go on through a relay, each the bytes
// exactly as they came.
void Service::sendForwards() {
    mmsghdr out[BATCH]{};
    iovec vec[BATCH];
    sockaddr_in to[BATCH];
    if (forwards_.empty()) return;
    fragmenting(true);
    int count = 0;
    for (const Forward& forward : forwards_) {
        to[count] = socketAddress(forward.to);
        vec[count] = {&inData_[forward.slot * DATAGRAM_CAPACITY], in_[forward.slot].msg_len};
        out[count].msg_hdr.msg_name = &to[count];
        out[count].msg_hdr.msg_namelen = sizeof to[count];
        out[count].msg_hdr.msg_iov = &vec[count];
        out[count].msg_hdr.msg_iovlen = 1;
        ++count;
    }
    sendBatch(out, count);
}

void Service::receive(int64_t now) {
    for (int round = 0; round < ROUNDS; ++round) {
        for (int i = 0; i < BATCH; ++i) {
            in_[i].msg_hdr.msg_name = &inFrom_[i];
            in_[i].msg_hdr.msg_namelen = sizeof inFrom_[i];
            in_[i].msg_hdr.msg_flags = 0;
        }
        int n = recvmmsg(socket_, in_, BATCH, MSG_DONTWAIT, nullptr);
        if (n <= 0) return;
        answers_.clear();
        forwards_.clear();
        for (int i = 0; i < n; ++i) {
            Endpoint from{ntohl(inFrom_[i].sin_addr.s_addr), ntohs(inFrom_[i].sin_port)};
            if (in_[i].msg_hdr.msg_namelen != sizeof(sockaddr_in) || inFrom_[i].sin_family != AF_INET)
                from = Endpoint{};
            Endpoint to = handler_.handle(&inData_[i * DATAGRAM_CAPACITY], in_[i].msg_len, from, now, answers_);
            if (to.ip != 0) forwards_.push_back({to, i});
        }
        sendAndRepeat(answers_, now);
        sendForwards();
        if (n < BATCH) return;
        now = nowMs();
    }
}

void Service::sendRepeats(int64_t now) {
    answers_.clear();
    while (!repeats_.empty() && repeats_.front().first <= now) {
        answers_.push_back(repeats_.front().second);
        repeats_.pop_front();
    }
    send(answers_);
}

int Service::pollTimeout(int64_t now) const {
    int64_t next = nextSweep_;
    if (options_.statsIntervalS > 0) next = std::min(next, nextStats_);
    if (!repeats_.empty()) next = std::min(next, repeats_.front().first);
    if (handler_.nextOfferAt() >= 0) next = std::min(next, handler_.nextOfferAt());
    return int(std::max<int64_t>(0, next - now));
}

int Service::run() {
    int64_t now = nowMs();
    nextSweep_ = now + 1000;
    nextStats_ = now + options_.statsIntervalS * 1000;
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {signals_, POLLIN, 0}};
        if (poll(fds, 2, pollTimeout(nowMs())) < 0 && errno != EINTR) {
            log_.notice(std::string("poll failed: ") + std::strerror(errno));
            return 1;
        }
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info;
            ssize_t got = read(signals_, &info, sizeof info);
            log_.flush(nowMs() + 1000);
            log_.notice(std::string("stopping on ") +
                        (got == sizeof info && info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM") + ": " +
                        handler_.summary() + " send_failures=" + std::to_string(sendFailures_) +
                        " repeats_skipped=" + std::to_string(repeatsSkipped_));
            return 0;
        }
        now = nowMs();
        if (fds[0].revents & POLLIN) receive(now);
        now = nowMs();
        sendRepeats(now);
        // Offers are sent again after the repeat delay like every answer, against loss.
        answers_.clear();
        handler_.offerRelays(now, answers_);
        sendAndRepeat(answers_, now);
        if (now >= nextSweep_) {
            answers_.clear();
            handler_.keepAlive(now, answers_);
            send(answers_);
            handler_.expire(now);
            log_.flush(now);
            nextSweep_ = now + 1000;
        }
        if (options_.statsIntervalS > 0 && now >= nextStats_) {
            log_.notice(handler_.summary() + " send_failures=" + std::to_string(sendFailures_) +
                        " repeats_skipped=" + std::to_string(repeatsSkipped_));
            nextStats_ = now + options_.statsIntervalS * 1000;
        }
    }
}

} // namespace

int serve(const Options& options) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // Taken through a descriptor in the poll loop, so a signal never interrupts
    // the handler half-way.
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.port);
    inet_pton(AF_INET, options.bind.c_str(), &address.sin_addr);
    std::string where = options.bind + ":" + std::to_string(options.port);
    if (signals < 0 || fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::string reason = std::strerror(errno);
        EventLog(stderr, true).notice("cannot receive on " + where + ": " + reason);
        return 1;
    }
    int bufferSize = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize);
    // Answers are 36 bytes and never need fragments or the path MTU: sent as probes
    // ("don't fragment", path MTU ignored) they leave with an IP identification of 0
    // instead of one the kernel hashes for every datagram (some per cent of central's
    // time under load). Relay traffic leaves otherwise (Service::fragmenting).
    int probe = IP_PMTUDISC_PROBE;
    setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &probe, sizeof probe);

    const Settings& s = options.settings;
    EventLog(stderr, true).notice(
        "listening on " + where + " expiry=" + std::to_string(s.expiryMs / 1000) + "s max_names=" +
        std::to_string(s.maxNames) + " peer_interval=" + std::to_string(s.peerIntervalMs) + "ms source_rate=" +
        std::to_string(s.sourceRate) + "/s repeat_delay=" + std::to_string(options.repeatDelayMs) +
        "ms relay_after=" + std::to_string(s.relayAfterMs) + "ms max_relays=" + std::to_string(s.maxRelays) +
        " source_relays=" + std::to_string(s.sourceRelays) + " relay_rate=" + std::to_string(s.relayRate) +
        "B/s relay_consent=" + std::to_string(s.relayConsentMs / 1000) +
        "s relay_idle=" + std::to_string(s.relayIdleMs / 1000) + "s relay_lifetime=" +
        std::to_string(s.relayLifetimeMs / 1000) + "s keepalive=" + std::to_string(s.keepaliveMs / 1000) +
        "s");
    Service service(options, fd, signals);
    int status = service.run();
    close(fd);
    close(signals);
    return status;
}

} // namespace central
