// libFuzzer target for central's datagram handler. One input is a short story:
// a sequence of datagrams, each from one of a few sources, some milliseconds
// after the one before. After every datagram the answers are checked against
// what central promises: only its three answer types, always with the magic, a
// peer address never 0, no more to the sender than the sender sent, no more peer
// addresses to a registered address than datagrams came from it, and a table that
// stays within its cap. And for relaying: a datagram is passed on
// only from one half of a pair that central answered to the other half, never
// a request, never to a third address, never more bytes out of a pair than came
// into it, never to a half that has not itself sent something since its offer and
// within the consent time, never back to a half the bytes it was last passed, nor
// central's own offer; offers (MSG_PUNCH) go only to the halves of such pairs, two
// per pair at most, to a client only when its server, offered before, has just sent
// something; the relays in use and the offers stay within their caps. Nothing at all
// goes to a port below 1024 other than 1194.
//
// Input format, repeated: source (1 byte), ms to wait (1 byte, times 16),
// length (1 byte), then that many bytes of datagram (fewer at the end).
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "central/handler.h"

using namespace central;

namespace {

uint32_t little32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void require(bool condition) {
    if (!condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Event lines are composed and written to /dev/null, so their code runs too.
    static FILE* sink = std::fopen("/dev/null", "w");
    EventLog log(sink, true);
    Settings settings;
    settings.expiryMs = 3000;
    settings.maxNames = 8;
    settings.peerIntervalMs = 500;
    settings.sourceRate = 6;
    settings.maxSources = 4;
    settings.relayAfterMs = 300;
    settings.maxRelays = 2;
    settings.maxOffers = 3;
    settings.sourceRelays = 1;
    settings.relayRate = 4000;
    settings.relayIdleMs = 2000;
    settings.relayConsentMs = 1000;
    Handler handler(settings, log);
    std::vector<Answer> answers, offers;
    // Every pair central answered, (client, server), with the bytes that came in
    // from its halves and went out between them.
    struct Flow {
        uint64_t in = 0, out = 0;
    };
    std::map<std::pair<uint64_t, uint64_t>, Flow> pairs;
    auto key = [](Endpoint e) { return uint64_t(e.ip) << 16 | e.port; };
    size_t answeredPairs = 0, offersSent = 0;
    // Per address: the step and time of its last datagram, the step of its last
    // offer, the datagrams from it and the peer addresses sent to it as a server.
    struct Heard {
        size_t step = 0;
        int64_t at = -1;
        size_t offerStep = 0;
        size_t sent = 0, told = 0;
    };
    std::map<uint64_t, Heard> heard;
    // Per address: the last datagram passed on to it, and the last offer it was sent,
    // since its last answered pair.
    std::map<uint64_t, std::vector<uint8_t>> passedTo;
    std::map<uint64_t, std::array<uint8_t, ANSWER_SIZE>> offered;
    int64_t now = 0;
    size_t at = 0;
    for (size_t step = 1; at + 3 <= size; ++step) {
        uint8_t source = data[at];
        now += int64_t(data[at + 1]) * 16;
        size_t length = std::min<size_t>(data[at + 2], size - at - 3);
        const uint8_t* datagram = data + at + 3;
        at += 3 + length;
        // Six addresses on three ports (the programs', a high one and DNS's); source byte
        // 0xff plays the impossible source 0.0.0.0:0.
        static const uint16_t ports[] = {1194, 40000, 53};
        Endpoint from = source == 0xff ? Endpoint{} : Endpoint{0x0a000001u + source % 6, ports[source % 3]};

        for (auto& [halves, flow] : pairs)
            if (halves.first == key(from) || halves.second == key(from)) flow.in += length;
        heard[key(from)].step = step;
        heard[key(from)].at = now;
        ++heard[key(from)].sent;
        answers.clear();
        Endpoint to = handler.handle(datagram, length, from, now, answers);
        if (to.ip != 0) {
            Request request;
            require(parse(datagram, length, request) != Fault::None);
            require(answers.empty());
            auto forward = pairs.find({key(from), key(to)});
            if (forward == pairs.end()) forward = pairs.find({key(to), key(from)});
            require(forward != pairs.end() && to != from);
            forward->second.out += length;
            require(forward->second.out <= forward->second.in);
            const Heard& peer = heard[key(to)];
            require(peer.step > peer.offerStep && now - peer.at < settings.relayConsentMs);
            auto passed = passedTo.find(key(from));
            require(passed == passedTo.end() || std::vector<uint8_t>(datagram, datagram + length) != passed->second);
            auto offer = offered.find(key(from));
            require(!(length == ANSWER_SIZE && offer != offered.end() &&
                      std::memcmp(datagram, offer->second.data(), ANSWER_SIZE) == 0));
            require(to.port >= 1024 || to.port == 1194);
            passedTo[key(to)].assign(datagram, datagram + length);
        }
        offers.clear();
        handler.offerRelays(now, offers);
        for (const Answer& offer : offers) {
            offered[key(offer.to)] = offer.bytes;
            require(little32(offer.bytes.data()) == uint32_t(MSG_PUNCH));
            require(little32(offer.bytes.data() + 4) == uint32_t(MAGIC));
            bool half = false;
            for (const auto& [halves, flow] : pairs)
                half = half || halves.first == key(offer.to) || halves.second == key(offer.to);
            require(half);
            heard[key(offer.to)].offerStep = step;
        }
        offersSent += offers.size();
        handler.expire(now);
        require(handler.relaysInUse() <= settings.maxRelays);
        require(handler.relays() - handler.relaysInUse() <= settings.maxOffers);

        require(answers.size() <= 2);
        size_t toSender = 0;
        for (size_t i = 0; i < answers.size(); ++i) {
            const Answer& answer = answers[i];
            auto type = int32_t(little32(answer.bytes.data()));
            require(little32(answer.bytes.data() + 4) == uint32_t(MAGIC));
            require(type == MSG_REGISTERED || type == MSG_NAME_TAKEN || type == MSG_PEER_ADDRESS ||
                    type == MSG_PUNCH);
            require(answer.to.ip != 0 && answer.to.port != 0);
            require(answer.to.port >= 1024 || answer.to.port == 1194);
            if (type == MSG_PUNCH) {
                // The client's offer, once its server (offered before) answered.
                require(answers.size() == 1 && to.ip == 0);
                require(pairs.count({key(answer.to), key(from)}) && heard[key(from)].offerStep > 0);
                offered[key(answer.to)] = answer.bytes;
                heard[key(answer.to)].offerStep = step;
                ++offersSent;
                continue;
            }
            if (type == MSG_PEER_ADDRESS) require(little32(answer.bytes.data() + 8) != 0);
            // The second peer address goes to the registered server; the rest to the sender.
            if (type == MSG_PEER_ADDRESS && i == 1) {
                pairs.emplace(std::make_pair(key(from), key(answer.to)), Flow{});
                // A new pair, and with it perhaps a new relay of its own for each half.
                for (uint64_t half : {key(from), key(answer.to)}) {
                    passedTo.erase(half);
                    offered.erase(half);
                }
                ++answeredPairs;
                Heard& server = heard[key(answer.to)];
                require(++server.told <= server.sent);
                continue;
            }
            require(answer.to == from);
            toSender += answer.bytes.size();
        }
        require(toSender <= length);
        require(handler.names() <= settings.maxNames);
        require(offersSent <= 2 * answeredPairs);
    }
    return 0;
}
