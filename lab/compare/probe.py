#!/usr/bin/python3
"""One home's end of a comparison trial: datagrams across the overlay, and a look at
the wire underneath to tell a direct path from a relayed one.

  probe.py OWN PEER PORT T0 TIMEOUT PEER_PUBLIC RELAY REQUIRE [HOLD]
      RELAY: ADDRESS:PROTOCOL:PORT (tcp or udp) of the relay's own traffic

Binds OWN:PORT (retrying until the overlay address exists), sends a 1000-byte
datagram to PEER:PORT every 0.1 s, and meanwhile watches eth0 of the home with a
packet socket: every IPv4 packet of at least 1000 bytes whose source is PEER_PUBLIC
(the other home's router, so it crossed the punched path) or that comes from the
relay's address, protocol and port (the rendezvous node passing traffic on) is
counted. Each datagram tells the peer whether we hear it
and whether large packets reach us straight from its router.

The trial is done when both directions crossed (REQUIRE any), or when in addition
both homes see the peer's traffic arrive straight from its router and none of it by
way of the relay for at least 0.5 s (REQUIRE direct: a first direct packet alone may
be a path probe while the data still goes round by the relay).
It then goes on for HOLD seconds (default 1.5) and counts how the large packets of
that last stretch came in.

Prints one line of key=value fields, times in seconds since the epoch time T0 (the
start of the attempt), "-" for never:
  heard=  first datagram of the peer received through the overlay
  seen=   first datagram saying that the peer received ours
  direct= first large packet from PEER_PUBLIC on eth0
  relay=  first large packet from RELAY on eth0
  steady= since when the peer's traffic came only straight from its router (at done)
  done=   the moment the trial was done
  hold_direct= hold_relay=  large packets from each during the hold
Exits 0 when done, 1 after TIMEOUT seconds from T0.
"""
import socket
import struct
import sys
import time

SIZE = 1000
INTERVAL = 0.1
STEADY = 0.5
ETH_P_IP = 0x0800


def wire_socket():
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_IP))
    sock.bind(("eth0", 0))
    sock.setblocking(False)
    return sock


class Wire:
    """Counts large packets on eth0 from the peer's router and from the relay."""

    def __init__(self, peer_public, relay):
        self.sock = wire_socket()
        address, protocol, port = relay.split(":")
        self.peer = socket.inet_aton(peer_public)
        self.relay = (socket.inet_aton(address), {"tcp": 6, "udp": 17}[protocol], int(port))
        self.first = {"direct": None, "relay": None}
        self.count = {"direct": 0, "relay": 0}
        self.since = None   # first direct packet after the last relayed one
        self.run = 0        # direct packets since then

    def steady(self, now):
        """The time since which the peer's traffic comes straight from its router and
        nothing comes by way of the relay (for STEADY seconds now), or None."""
        if self.since is not None and now - self.since >= STEADY and self.run >= 3:
            return self.since
        return None

    def drain(self, now):
        while True:
            try:
                frame, addr = self.sock.recvfrom(65535)
            except (BlockingIOError, InterruptedError):
                return
            if addr[2] == socket.PACKET_OUTGOING or len(frame) < 34:
                continue
            ip = frame[14:]
            if ip[0] >> 4 != 4:
                continue
            length = struct.unpack("!H", ip[2:4])[0]
            if length < SIZE:
                continue
            header = (ip[0] & 15) * 4
            if ip[12:16] == self.peer:
                kind = "direct"
            elif (ip[12:16], ip[9], struct.unpack("!H", ip[header:header + 2])[0]) == self.relay:
                kind = "relay"
            else:
                continue
            self.count[kind] += 1
            if self.first[kind] is None:
                self.first[kind] = now
            if kind == "relay":
                self.since, self.run = None, 0
            else:
                if self.since is None:
                    self.since = now
                self.run += 1


def bind(own, port, deadline):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    while True:
        try:
            sock.bind((own, port))
            return sock
        except OSError:
            if time.time() > deadline:
                return None
            time.sleep(0.05)


def fmt(t, t0):
    return "-" if t is None else "%.3f" % (t - t0)


def main(argv):
    if len(argv) not in (8, 9) or argv[7] not in ("any", "direct"):
        print(__doc__, file=sys.stderr)
        return 2
    own, peer, port, t0, timeout, peer_public, relay, require = argv[:8]
    port, t0, timeout = int(port), float(t0), float(timeout)
    hold = float(argv[8]) if len(argv) == 9 else 1.5
    deadline = t0 + timeout
    wire = Wire(peer_public, relay)
    sock = bind(own, port, deadline)
    heard = seen = done = hold_base = steady = None
    peer_direct = False
    if sock is not None:
        sock.setblocking(False)
        next_send = 0.0
        while True:
            now = time.time()
            wire.drain(now)
            if done is not None and now >= done + hold:
                break
            if done is None and now > deadline:
                break
            if now >= next_send:
                flags = (b"S" if heard is not None else b"H") + \
                        (b"D" if wire.steady(now) is not None else b"-")
                try:
                    sock.sendto(flags + b"." * (SIZE - 2), (peer, port))
                except OSError:
                    pass  # no route yet: the overlay is still coming up
                next_send = now + INTERVAL
            try:
                data, sender = sock.recvfrom(4096)
            except OSError:  # nothing queued, or an error queued by the overlay
                time.sleep(0.005)
                continue
            if sender != (peer, port):
                continue
            now = time.time()
            if heard is None:
                heard = now
                next_send = 0.0  # tell the peer at once that it is heard
            if seen is None and data[:1] == b"S":
                seen = now
            peer_direct = peer_direct or data[1:2] == b"D"
            wire.drain(now)
            if done is None and seen is not None and (
                    require == "any" or (peer_direct and wire.steady(now) is not None)):
                done = now
                steady = wire.steady(now)
                hold_base = dict(wire.count)
                next_send = 0.0
    hold_counts = {"direct": 0, "relay": 0}
    if hold_base is not None:
        hold_counts = {k: wire.count[k] - hold_base[k] for k in hold_counts}
    print("heard=%s seen=%s direct=%s relay=%s steady=%s done=%s hold_direct=%d hold_relay=%d"
          % (fmt(heard, t0), fmt(seen, t0), fmt(wire.first["direct"], t0),
             fmt(wire.first["relay"], t0), fmt(steady, t0), fmt(done, t0), hold_counts["direct"],
        hold_counts["relay"]))
    return 0 if done is not None else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
