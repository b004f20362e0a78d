// Native stand-in for the Winsock extension header: the control code that tells
// a UDP socket not to report ICMP "port unreachable" as a failed receive.
#pragma once

#include "winsock2.h"

#define SIO_UDP_CONNRESET 0x9800000C
