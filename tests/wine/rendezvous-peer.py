#!/usr/bin/python3
"""Scripted counterparts of the real programs in the Wine tests.

  rendezvous-peer.py server NAME COMPUTER ADDRESS:PORT CENTRAL SECONDS
      registers NAME for COMPUTER with central (a 52-byte MSG_REGISTER), prints the
      answer, then plays a waiting server for SECONDS: to each MSG_PEER_ADDRESS it
      punches toward the client, and it answers the first MSG_PUNCH it takes four times.
  rendezvous-peer.py client NAME ADDRESS:PORT CENTRAL SECONDS
      asks central for NAME (a 36-byte MSG_QUERY), then punches as above.
  rendezvous-peer.py probe ADDRESS PEER PASSWORD SECONDS
      the other end of the tunnel's liveness probe on port 8080: sends a 50-byte probe
      that starts with PASSWORD and its zero byte four times a second, counts what
      arrives, and prints the count at the end.

Exit code 0 when a server was registered and punched to, a client punched through,
or a probe peer heard its counterpart; 1 otherwise. Every event is printed.
"""
import socket
import struct
import sys
import time

MAGIC = 12345
REGISTER, REGISTERED, QUERY, NAME_TAKEN, PEER_ADDRESS, PUNCH = 1, 2, 3, 4, 5, 6
NAMES = {1: "MSG_REGISTER", 2: "MSG_REGISTERED", 3: "MSG_QUERY", 4: "MSG_NAME_TAKEN",
         5: "MSG_PEER_ADDRESS", 6: "MSG_PUNCH"}
CENTRAL_PORT = 3478
PROBE_PORT = 8080


def endpoint(text):
    address, port = text.rsplit(":", 1)
    return address, int(port)


def record(kind, name=b"", computer=b""):
    """A rendezvous message: the client's 36 bytes (two zero bytes behind the name),
    or the server's 52 with a computer name."""
    data = struct.pack("<iiIH20s", kind, MAGIC, 0, 0, name)
    return data + struct.pack("<18s", computer) if computer else data + bytes(2)


def say(*words):
    print(*words, flush=True)


def rendezvous(role, name, local, central, seconds, computer=b""):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(endpoint(local))
    sock.settimeout(0.25)
    central = (central, CENTRAL_PORT)
    if role == "server":
        sock.sendto(record(REGISTER, name, computer), central)
    else:
        sock.sendto(record(QUERY, name), central)
    registered = role == "client"
    peer = None
    punched = False
    end = time.time() + seconds
    while time.time() < end:
        try:
            data, sender = sock.recvfrom(200)
        except socket.timeout:
            if peer and not punched:
                sock.sendto(record(PUNCH, name, computer), peer)
            continue
        if len(data) < 8 or struct.unpack_from("<i", data, 4)[0] != MAGIC:
            say("dropped", len(data), "bytes from", sender)
            continue
        kind = struct.unpack_from("<i", data)[0]
        say("got", NAMES.get(kind, kind), "from %s:%d" % sender)
        if kind == REGISTERED:
            registered = True
        elif kind == NAME_TAKEN:
            return 1
        elif kind == PEER_ADDRESS and len(data) >= 14:
            ip, port = struct.unpack_from("<IH", data, 8)
            peer = (socket.inet_ntoa(struct.pack(">I", ip)), port)
            say("peer %s:%d" % peer)
            sock.sendto(record(PUNCH, name, computer), peer)
        elif kind == PUNCH and not punched:
            for _ in range(4):
                sock.sendto(record(PUNCH, name, computer), sender)
            punched = True
            say("punched to %s:%d" % sender)
            if role == "client":
                break
    return 0 if registered and (punched or role == "server") else 1


def probe(local, peer, password, seconds):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((local, PROBE_PORT))
    sock.settimeout(0.25)
    datagram = (password + b"\0").ljust(50, b"\xAA")
    heard = 0
    end = time.time() + seconds
    while time.time() < end:
        sock.sendto(datagram, (peer, PROBE_PORT))
        try:
            while True:
                sock.recvfrom(200)
                heard += 1
        except socket.timeout:
            pass
    say("heard", heard, "probes")
    return 0 if heard else 1


def main(args):
    if args[:1] == ["server"] and len(args) == 6:
        return rendezvous("server", args[1].encode(), args[3], args[4], float(args[5]),
                          args[2].encode())
    if args[:1] == ["client"] and len(args) == 5:
        return rendezvous("client", args[1].encode(), args[2], args[3], float(args[4]))
    if args[:1] == ["probe"] and len(args) == 5:
        return probe(args[1], args[2], args[3].encode(), float(args[4]))
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
