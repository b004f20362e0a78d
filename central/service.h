// The service: one UDP socket, the handler, repeated answers, lapsed names swept
// once a second, counters now and then, until SIGINT or SIGTERM.
#pragma once

#include "central/options.h"

namespace central {

// Runs until SIGINT or SIGTERM; returns the exit status.
int serve(const Options& options);

} // namespace central
