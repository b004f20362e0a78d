#!/usr/bin/python3
"""Hole punching and tunnel checks for the lab's self-test, with plain UDP sockets.

  punch.py reflect ADDRESS PORT
      At central's position: answers every datagram with the address and port it came
      from, as the rendezvous service sees them (after both NATs).
  punch.py punch ROLE CENTRAL_ADDRESS CENTRAL_PORT EXCHANGE_DIR [LOCAL_PORT]
      In a home (ROLE server or client): from LOCAL_PORT (1194) asks the reflector for
      its public address, writes it to EXCHANGE_DIR/ROLE.public, waits for the other
      side's, then punches the way both programs do: bursts of probes to the peer's
      port and its four neighbours, one second apart, at most seven; the first probe
      received is answered four times to its sender. Prints "punched ADDRESS PORT"
      (the sender of that probe) and exits 0, or exits 1 after seven silent bursts.
      The socket is closed on exit, so the port is free for OpenVPN.
  punch.py probe OWN_ADDRESS PEER_ADDRESS PORT SECONDS
      Through the tunnel: binds OWN_ADDRESS:PORT (retrying until the tunnel address
      exists), sends a datagram to PEER_ADDRESS:PORT every 0.2 s and exits 0 as soon
      as one of the peer's has arrived and the peer has seen one of ours, or 1 after
      SECONDS.
"""
import os
import socket
import sys
import time

PROBE = b"PUNCH"
BURSTS = 7


def reflect(address, port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((address, port))
    while True:
        _, (ip, sport) = sock.recvfrom(2048)
        sock.sendto(("%s %d" % (ip, sport)).encode(), (ip, sport))


def wait_file(path, seconds):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            return None
        time.sleep(0.05)
    with open(path) as f:
        ip, port = f.read().split()
    return ip, int(port)


def punch(role, central, central_port, exchange, local_port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("0.0.0.0", local_port))
    sock.settimeout(1)
    try:
        sock.sendto(b"WHOAMI", (central, central_port))
        reply, _ = sock.recvfrom(2048)
    except OSError:
        print("no answer from the reflector")
        return 1
    tmp = os.path.join(exchange, role + ".tmp")
    with open(tmp, "w") as f:
        f.write(reply.decode())
    os.rename(tmp, os.path.join(exchange, role + ".public"))
    print("public", reply.decode())
    peer = wait_file(os.path.join(exchange, ("client" if role == "server" else "server")
                                  + ".public"), 10)
    if peer is None:
        print("the other side never learned its public address")
        return 1
    peer_ip, peer_port = peer
    if role == "client":
        sock.sendto(PROBE, (peer_ip, peer_port))
    for burst in range(1, BURSTS + 1):
        for port in range(peer_port - 2, peer_port + 3):
            if 0 < port % 65536:
                sock.sendto(PROBE, (peer_ip, port % 65536))
        deadline = time.monotonic() + 1
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            sock.settimeout(left)
            try:
                data, sender = sock.recvfrom(2048)
            except socket.timeout:
                break
            if data == PROBE:
                for _ in range(4):
                    sock.sendto(PROBE, sender)
                print("punched %s %d burst %d" % (sender[0], sender[1], burst))
                sock.close()
                return 0
    print("no probe from the peer after %d bursts" % BURSTS)
    return 1


def probe(own, peer, port, seconds):
    deadline = time.monotonic() + seconds
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    while True:
        try:
            sock.bind((own, port))
            break
        except OSError:
            if time.monotonic() > deadline:
                print("tunnel address %s never came up" % own)
                return 1
            time.sleep(0.1)
    heard = seen = False
    sock.settimeout(0.2)
    while time.monotonic() < deadline:
        sock.sendto(b"seen" if heard else b"hello", (peer, port))
        try:
            data, sender = sock.recvfrom(2048)
        except socket.timeout:
            continue
        except OSError:
            time.sleep(0.2)
            continue
        if sender == (peer, port):
            heard = True
            seen = seen or data == b"seen"
        if heard and seen:
            # Let the peer hear our "seen" too before leaving.
            for _ in range(5):
                sock.sendto(b"seen", (peer, port))
                time.sleep(0.1)
            print("probes crossed %s:%d <-> %s:%d" % (own, port, peer, port))
            return 0
    print("heard peer: %s, peer heard us: %s" % (heard, seen))
    return 1


def main(argv):
    if len(argv) >= 3 and argv[0] == "reflect":
        return reflect(argv[1], int(argv[2]))
    if len(argv) >= 5 and argv[0] == "punch":
        local_port = int(argv[5]) if len(argv) > 5 else 1194
        return punch(argv[1], argv[2], int(argv[3]), argv[4], local_port)
    if len(argv) == 5 and argv[0] == "probe":
        return probe(argv[1], argv[2], int(argv[3]), float(argv[4]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
