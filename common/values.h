// Fixed values shared by the datagram endpoint, the rendezvous and both programs.
#pragma once

#define CENTRAL_PORT 3478
#define PUNCH_PORT 1194
#define PROBE_PORT 8080
#define SERVER_TUNNEL_ADDRESS "10.8.0.1"
#define CLIENT_TUNNEL_ADDRESS "10.8.0.2"

// The central server's host name is a build-time setting.
#ifndef CENTRAL_HOST
#define CENTRAL_HOST "central.example.net"
#endif

// Each program's own build of the shared sources says which program it is.
#if defined(PROGRAM_CLIENT) == defined(PROGRAM_SERVER)
#error "build the shared sources with exactly one of PROGRAM_CLIENT and PROGRAM_SERVER"
#endif

// The server keeps its ports to itself (one server at a time on a computer); the
// client binds as it always did.
#ifdef PROGRAM_CLIENT
#define OWN_TUNNEL_ADDRESS CLIENT_TUNNEL_ADDRESS
#define EXCLUSIVE_PORTS false
#else
#define OWN_TUNNEL_ADDRESS SERVER_TUNNEL_ADDRESS
#define EXCLUSIVE_PORTS true
#endif
