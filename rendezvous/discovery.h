// Central server discovery. The programs resolve no host names themselves: they
// run the system's ping once on CENTRAL_HOST, with its output in the file `log`,
// and take the address that ping announces in square brackets. When that address
// is not IPv4 (the name has an IPv6 address as well), they ask once more with
// `ping -4`.
#pragma once

#include <stdint.h>

// The central server's IPv4 address, host byte order; 0 when no address is known.
extern uint32_t centralIp;

// Runs the discovery and sets centralIp: the address found, or 0 when the output
// names no usable IPv4 address (callers then get no answer from the central server).
void findCentralServer();
