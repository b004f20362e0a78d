#include "support/scripted.h"

#include <poll.h>

#include <algorithm>
#include <sstream>

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
{
    for (uint16_t p : ports)
        parties_[p] = std::make_unique<Party>(address, p);
    if (answerFrom && !parties_.count(answerFrom))
        parties_[answerFrom] = std::make_unique<Party>(address, answerFrom);
    thread_ = std::thread([this, answerFrom, answerSize] { collect(answerFrom, answerSize); });
}

ProbeCollector::~ProbeCollector()
{
    stop();
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
    std::sort(arrivals_.begin(), arrivals_.end(),
              [](const Arrival& a, const Arrival& b) { return a.ns < b.ns; });
    return arrivals_;
}

void ProbeCollector::collect(uint16_t answerFrom, size_t answerSize)
{
    bool answered = false;
    bool last = false;
    while (!last) {
        last = done_; // one more pass after stop() takes what is still queued
        std::vector<pollfd> fds;
        for (auto& [port, party] : parties_)
            fds.push_back({party->fd(), POLLIN, 0});
        poll(fds.data(), fds.size(), last ? 0 : 50);
        for (auto& [port, party] : parties_) {
            long long ns = 0;
            uint32_t fromIp = 0;
            uint16_t fromPort = 0;
            std::vector<unsigned char> bytes;
            while (!(bytes = party->receiveStamped(0, ns, &fromIp, &fromPort)).empty()) {
                arrivals_.push_back({port, fromPort, bytes, ns});
                if (answerFrom && !answered) {
                    answered = true;
                    parties_[answerFrom]->sendTo(messageBytes(6, 12345, 0, 0, answerSize),
                                                 dottedOf(fromIp), fromPort);
                }
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
