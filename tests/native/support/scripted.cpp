#include "support/scripted.h"

#include <windows.h>

#include "control.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
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

Later::Later(int delayMs, std::function<void()> action)
    : listener_([at = GetTickCount64() + static_cast<uint64_t>(delayMs), action,
                 done = false]() mutable {
          if (!done && GetTickCount64() >= at) {
              done = true;
              action();
          }
      })
{
}

ScriptedCentral::ScriptedCentral(const std::string& address, std::vector<unsigned char> reply,
                                 int delayMs)
    : party_(address, 3478), reply_(std::move(reply)), delayMs_(delayMs),
      listener_([this] { look(); })
{
}

void ScriptedCentral::look()
{
    std::vector<unsigned char> got;
    uint32_t ip = 0;
    uint16_t port = 0;
    while (!(got = party_.receive(0, &ip, &port)).empty()) {
        if (!request_.empty()) {
            ++later_;
            continue;
        }
        request_ = got;
        fromIp_ = ip;
        fromPort_ = port;
        replyAt_ = GetTickCount64() + static_cast<uint64_t>(delayMs_);
    }
    if (!request_.empty() && !reply_.empty() && !replied_ && GetTickCount64() >= replyAt_) {
        replied_ = true;
        party_.sendTo(reply_, dottedOf(fromIp_), fromPort_);
    }
}

const std::vector<unsigned char>& ScriptedCentral::request()
{
    look();
    return request_;
}

int ScriptedCentral::later()
{
    look();
    return later_;
}

ProbeCollector::ProbeCollector(const std::string& address, std::vector<uint16_t> ports,
                               uint16_t answerFrom, size_t answerSize)
    : address_(ipOf(address)), ports_(ports.begin(), ports.end()), answerSize_(answerSize),
      listener_([this] { look(); })
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
}

ProbeCollector::~ProbeCollector()
{
    close(capture_);
}

std::vector<Arrival> ProbeCollector::arrivals()
{
    look();
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

void ProbeCollector::look()
{
    unsigned char packet[2048];
    ssize_t n;
    while ((n = recv(capture_, packet, sizeof packet, MSG_DONTWAIT)) >= 20) {
        Arrival arrival;
        uint32_t srcIp = 0;
        if (!isArrival(packet, static_cast<size_t>(n), arrival, srcIp))
            continue;
        arrivals_.push_back(arrival);
        if (answering_ && !answered_) {
            answered_ = true;
            answering_->sendTo(messageBytes(6, 12345, 0, 0, answerSize_), dottedOf(srcIp),
                               arrival.srcPort);
        }
    }
}

LoopingCentral::LoopingCentral(const std::string& address)
    : party_(address, 3478), listener_([this] { look(); })
{
}

void LoopingCentral::look()
{
    std::vector<unsigned char> got;
    uint32_t ip = 0;
    uint16_t port = 0;
    while (!(got = party_.receive(0, &ip, &port)).empty()) {
        if (got.size() < 8 || got[0] != 1) // MSG_REGISTER
            continue;
        serverIp_ = ip;
        serverPort_ = port;
        ++registrations_;
        if (answer)
            party_.sendTo(messageBytes(answer), dottedOf(ip), port);
    }
}

int LoopingCentral::registrations()
{
    look();
    return registrations_;
}

void LoopingCentral::requestFrom(uint32_t clientIp, uint16_t clientPort)
{
    look();
    party_.sendTo(messageBytes(5, 12345, clientIp, clientPort), dottedOf(serverIp_),
                  serverPort_);
}
