// central: the rendezvous service that punchvpn's servers register with and its
// clients ask.
#include <cstdio>
#include <string>

#include "central/options.h"
#include "central/service.h"

int main(int argc, char** argv) {
    central::Options options;
    std::string error;
    switch (central::parseOptions(argc, argv, options, error)) {
    case central::Parsed::Help:
        std::fputs(central::HELP, stdout);
        return 0;
    case central::Parsed::Error:
        std::fprintf(stderr, "central: %s (see central --help)\n", error.c_str());
        return 2;
    case central::Parsed::Run:
        break;
    }
    return central::serve(options);
}
