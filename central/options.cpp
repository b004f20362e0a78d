#include "central/options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace central {

const char* const HELP =
    "Usage: central [OPTION]...\n"
    "The rendezvous service of punchvpn: servers register a name, clients ask for it,\n"
    "and central tells each side the other's public address and port (UDP, IPv4).\n"
    "Where the two cannot punch through their routers, central relays the tunnel.\n"
    "Runs in the foreground, logs one line per event to stderr, ends on SIGINT or SIGTERM.\n"
    "\n"
    "  --bind ADDRESS         IPv4 address to receive on (default 0.0.0.0, all addresses)\n"
    "  --port PORT            UDP port to receive on (default 3478, the port the\n"
    "                         programs send to)\n"
    "  --expiry SECONDS       a registration lapses when its server has not registered\n"
    "                         again for this long (default 120; waiting servers register\n"
    "                         again about every 33 s)\n"
    "  --max-names N          most names held at once (default 1000000); past it, new\n"
    "                         names get no answer until registrations lapse\n"
    "  --peer-interval MS     a name is sent a peer address at most once per MS\n"
    "                         milliseconds; other queries for it in between get no\n"
    "                         answer (default 2000, 0: no limit)\n"
    "  --source-rate N        requests taken per second from one source address; the\n"
    "                         rest are dropped (default 20, 0: no limit)\n"
    "  --repeat-delay MS      every answer is sent a second time MS milliseconds after\n"
    "                         the first, against loss (default 200, 0: send once)\n"
    "  --relay-after MS       after answering a query, wait MS milliseconds, then offer\n"
    "                         the server to relay its tunnel (a MSG_PUNCH from this\n"
    "                         port), and its client once the server has taken it; a\n"
    "                         side that has not punched through takes it (default\n"
    "                         2500, at most 7000, 0: never relay)\n"
    "  --max-relays N         most relays in use at once (default 100); past it, pairs\n"
    "                         get no offer (up to 65536 offers not in use wait apart)\n"
    "  --source-relays N      most relays in use at once that one source address (all\n"
    "                         its ports) takes part in (default 10); past it, its pairs\n"
    "                         get no offer\n"
    "  --relay-rate BYTES     bytes per second that one relay passes on, both ways\n"
    "                         together; the rest is dropped (default 500000, 0: no cap)\n"
    "  --relay-consent SECONDS\n"
    "                         a relay passes a datagram on to a side only when that\n"
    "                         side itself sent something since the offer and within\n"
    "                         this long (default 30; a live tunnel pings every 5 s)\n"
    "  --relay-idle SECONDS   a relay that passed nothing on for this long ends (default\n"
    "                         60); an offer that nothing came back to ends after 10 s\n"
    "  --relay-lifetime SECONDS\n"
    "                         a relay ends this long after its offer, however busy; the\n"
    "                         programs then connect again (default 28800, 8 hours)\n"
    "  --keepalive SECONDS    a registered server is sent one datagram (36 zero bytes,\n"
    "                         which the programs drop) this long after its registration,\n"
    "                         so that its router keeps the flow towards central open\n"
    "                         until it registers again (default 15, 0: never)\n"
    "  --stats-interval SECONDS\n"
    "                         log the counters this often (default 60, 0: only at exit)\n"
    "  --quiet                no line per event; only start, counters and stop\n"
    "  --help                 show this text and exit\n"
    "\n"
    "Exit status: 0 after SIGINT or SIGTERM, 1 when the socket cannot be opened,\n"
    "2 for a bad command line.\n";

namespace {

bool number(const char* text, long long low, long long high, long long& value) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && *end == 0 && value >= low && value <= high;
}

} // namespace

Parsed parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") return Parsed::Help;
        if (option == "--quiet") {
            options.quiet = true;
            continue;
        }
        struct Numeric {
            const char* name;
            long long low, high;
        };
        static const Numeric numerics[] = {
            {"--port", 1, 65535},          {"--expiry", 1, 86400 * 365},
            {"--max-names", 1, 100000000}, {"--peer-interval", 0, 3600000},
            {"--source-rate", 0, 1000000}, {"--repeat-delay", 0, 900},
            {"--stats-interval", 0, 86400},   {"--relay-after", 0, 7000},
            {"--max-relays", 1, 100000},      {"--relay-rate", 0, 1000000000},
            {"--relay-idle", 1, 86400},       {"--keepalive", 0, 30},
            {"--source-relays", 1, 100000},   {"--relay-consent", 1, 3600},
            {"--relay-lifetime", 60, 86400 * 30},
        };
        bool known = option == "--bind";
        for (const Numeric& n : numerics) known = known || option == n.name;
        if (!known) {
            error = "unknown option " + option;
            return Parsed::Error;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return Parsed::Error;
        }
        const char* value = argv[++i];
        if (option == "--bind") {
            in_addr address;
            if (inet_pton(AF_INET, value, &address) != 1) {
                error = "--bind needs an IPv4 address, not " + std::string(value);
                return Parsed::Error;
            }
            options.bind = value;
            continue;
        }
        long long v = 0;
        for (const Numeric& n : numerics) {
            if (option != n.name) continue;
            if (!number(value, n.low, n.high, v)) {
                error = option + " needs a whole number from " + std::to_string(n.low) + " to " +
                        std::to_string(n.high) + ", not " + value;
                return Parsed::Error;
            }
        }
        if (option == "--port") options.port = uint16_t(v);
        if (option == "--expiry") options.settings.expiryMs = v * 1000;
        if (option == "--max-names") options.settings.maxNames = size_t(v);
        if (option == "--peer-interval") options.settings.peerIntervalMs = v;
        if (option == "--source-rate") options.settings.sourceRate = unsigned(v);
        if (option == "--repeat-delay") options.repeatDelayMs = v;
        if (option == "--stats-interval") options.statsIntervalS = v;
        if (option == "--relay-after") options.settings.relayAfterMs = v;
        if (option == "--max-relays") options.settings.maxRelays = size_t(v);
        if (option == "--relay-rate") options.settings.relayRate = uint64_t(v);
        if (option == "--relay-idle") options.settings.relayIdleMs = v * 1000;
        if (option == "--relay-lifetime") options.settings.relayLifetimeMs = v * 1000;
        if (option == "--source-relays") options.settings.sourceRelays = size_t(v);
        if (option == "--relay-consent") options.settings.relayConsentMs = v * 1000;
        if (option == "--keepalive") options.settings.keepaliveMs = v * 1000;
    }
    return Parsed::Run;
}

} // namespace central
