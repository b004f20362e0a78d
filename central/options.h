// central's command line.
#pragma once

#include <cstdint>
#include <string>

#include "central/handler.h"

namespace central {

struct Options {
    std::string bind = "0.0.0.0";
    uint16_t port = 3478;
    Settings settings;
    int64_t repeatDelayMs = 200; // answers are sent again this much later; 0: once
    int64_t statsIntervalS = 60; // counters logged this often; 0: only at the end
    bool quiet = false;          // no line per event
};

enum class Parsed { Run, Help, Error };

// Fills options from argv; on Error, error says what is wrong.
Parsed parseOptions(int argc, char** argv, Options& options, std::string& error);

extern const char* const HELP;

} // namespace central
