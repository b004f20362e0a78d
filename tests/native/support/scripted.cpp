#include "support/scripted.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

std::string dottedOf(uint32_t ip)
{
    std::ostringstream dotted;
    dotted << (ip >> 24) << '.' << ((ip >> 16) & 255) << '.' << ((ip >> 8) & 255) << '.'
           << (ip & 255);
    return dotted.str();
}

ScriptedCentral::ScriptedCentral(const std::string& address, std::vector<unsigned char> reply,
                                 int delayMs, int watchMs)
    : party_(address, 3478)
{
    thread_ = std::thread([this, reply, delayMs, watchMs] {
        uint32_t ip = 0;
        uint16_t port = 0;
        request = party_.receive(4000, &ip, &port);
        if (request.empty())
            return;
        if (!reply.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            party_.sendTo(reply, dottedOf(ip), port);
        }
        long long end = nowMs() + watchMs;
        while (nowMs() < end)
            if (!party_.receive(static_cast<int>(end - nowMs())).empty())
                ++later;
    });
}

ScriptedCentral::~ScriptedCentral()
{
    join();
}

void ScriptedCentral::join()
{
    if (thread_.joinable())
        thread_.join();
}

ProbeCollector::ProbeCollector(const std::string& address, std::vector<uint16_t> ports,
                               uint16_t answerFrom, size_t answerSize)
    : address_(ipOf(address)), ports_(ports.begin(), ports.end())
{
    if (answerFrom) {
        ports_.insert(answerFrom);
        answering_ = std::make_unique<Party>(address, answerFrom);
    }
    // Every IPv4 packet that lo delivers, in delivery order; not the copies it sends.
    capture_ = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
    int on = 1;
    sockaddr_ll lo{};
    lo.sll_family = AF_PACKET;
    lo.sll_protocol = htons(ETH_P_IP);
    lo.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    if (capture_ < 0 ||
        setsockopt(capture_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on) != 0 ||
        bind(capture_, reinterpret_cast<sockaddr*>(&lo), sizeof lo) != 0)
        throw std::runtime_error("cannot capture on lo");
    thread_ = std::thread([this, answerFrom, answerSize] { collect(answerFrom, answerSize); });
}

ProbeCollector::~ProbeCollector()
{
    stop();
    close(capture_);
}

void ProbeCollector::stop()
{
    done_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::vector<Arrival> ProbeCollector::arrivals()
{
    stop();
    return arrivals_;
}

// Reads a captured IPv4 packet: true when it is a UDP datagram to one of the ports.
bool ProbeCollector::isArrival(const unsigned char* packet, size_t size, Arrival& arrival,
                               uint32_t& srcIp) const
{
    size_t header = (packet[0] & 0x0Fu) * 4u;
    uint32_t dstIp = ntohl(*reinterpret_cast<const uint32_t*>(packet + 16));
    if (size < header + 8 || packet[9] != IPPROTO_UDP || dstIp != address_)
        return false;
    srcIp = ntohl(*reinterpret_cast<const uint32_t*>(packet + 12));
    arrival.srcPort = static_cast<uint16_t>(packet[header] << 8 | packet[header + 1]);
    arrival.port = static_cast<uint16_t>(packet[header + 2] << 8 | packet[header + 3]);
    arrival.bytes.assign(packet + header + 8, packet + size);
    return ports_.count(arrival.port) > 0;
}

void ProbeCollector::collect(uint16_t answerFrom, size_t answerSize)
{
    bool answered = false;
    bool last = false;
    while (!last) {
        last = done_; // one more pass after stop() takes what is still queued
        pollfd p{capture_, POLLIN, 0};
        poll(&p, 1, last ? 0 : 50);
        unsigned char packet[2048];
        ssize_t n;
        while ((n = recv(capture_, packet, sizeof packet, MSG_DONTWAIT)) >= 20) {
            Arrival arrival;
            uint32_t srcIp = 0;
            if (!isArrival(packet, static_cast<size_t>(n), arrival, srcIp))
                continue;
            arrivals_.push_back(arrival);
            if (answerFrom && !answered) {
                answered = true;
                answering_->sendTo(messageBytes(6, 12345, 0, 0, answerSize), dottedOf(srcIp),
                                   arrival.srcPort);
            }
        }
    }
}

LoopingCentral::LoopingCentral(const std::string& address) : party_(address, 3478)
{
    thread_ = std::thread([this] {
        while (!done_) {
            uint32_t ip = 0;
            uint16_t port = 0;
            std::vector<unsigned char> got = party_.receive(50, &ip, &port);
            if (got.size() < 8 || got[0] != 1) // MSG_REGISTER
                continue;
            serverIp_ = ip;
            serverPort_ = port;
            ++registrations;
            if (answer)
                party_.sendTo(messageBytes(answer), dottedOf(ip), port);
        }
    });
}

LoopingCentral::~LoopingCentral()
{
    done_ = true;
    thread_.join();
}

void LoopingCentral::requestFrom(uint32_t clientIp, uint16_t clientPort)
{
    party_.sendTo(messageBytes(5, 12345, clientIp, clientPort), dottedOf(serverIp_),
                  serverPort_);
}
