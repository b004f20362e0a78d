#!/usr/bin/python3
"""The programs' rendezvous and punch with plain UDP sockets, for the lab's self-test and
for the comparison's stand-in row "ours-scripted" (what the protocol's timers alone
cost, without Wine and the dialogs), and probes through a tunnel. Port 1194 in the
homes; nothing but timing and the order of the datagrams is modelled.

The punch, as both programs do it: up to seven bursts to the peer's port and its four
neighbours, each followed by a 1 s wait before looking for the peer's probe; the first
probe found is answered four times to its sender, and the socket is closed, so the
port is free for OpenVPN.

  punch.py reflect ADDRESS PORT
      At central's position: answers every datagram with the address and port it came
      from, as the rendezvous service sees them (after both NATs).
  punch.py punch ROLE CENTRAL_ADDRESS CENTRAL_PORT EXCHANGE_DIR [LOCAL_PORT]
      In a home (ROLE server or client): from LOCAL_PORT (1194) asks the reflector for
      its public address, writes it to EXCHANGE_DIR/ROLE.public, waits for the other
      side's, then punches (the client sends one probe first). Prints "punched ADDRESS
      PORT" (the sender of the probe found) and exits 0, or exits 1.
  punch.py central ADDRESS PORT
      At central's position: a server's REGISTER is answered REGISTERED and its
      public address kept; a client's QUERY is answered with PEER and the server's
      public address, and the server gets REQUEST with the client's.
  punch.py server CENTRAL PORT READY_FILE
      As server.exe: registers (looking for the answer after 1 s, and once more 1 s
      later), touches READY_FILE, then looks for a request once per 1 s tick; on one it
      punches. Prints "punched ADDRESS PORT" and exits 0, or exits 1.
  punch.py client CENTRAL PORT
      As client.exe's Connect: QUERY to central, 1 s wait, the peer's address; one
      probe, then the punch. Prints the sender of the probe found as "ADDRESS PORT"
      (op.bat's --remote) and exits 0, or exits 1.
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

PUNCH_PORT = 1194
BURSTS = 7
ANSWERS = 4
TICK = 1.0
REQUEST_TICKS = 60


def udp(address="0.0.0.0", port=PUNCH_PORT):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((address, port))
    sock.setblocking(False)
    return sock


def take(sock, wanted):
    """The first queued datagram that starts with wanted, as (words, sender), or None."""
    while True:
        try:
            data, sender = sock.recvfrom(2048)
        except (BlockingIOError, ConnectionRefusedError):
            return None
        words = data.decode("ascii", "replace").split()
        if words and words[0] == wanted:
            return words, sender


def burst(sock, ip, port):
    for p in range(port - 2, port + 3):
        if 0 < p < 65536:
            try:
                sock.sendto(b"PUNCH", (ip, p))
            except OSError:
                pass


def punch(sock, ip, port):
    """The sender of the first probe found, answered four times; None after seven bursts."""
    for _ in range(BURSTS):
        burst(sock, ip, port)
        time.sleep(1)
        got = take(sock, "PUNCH")
        if got:
            for _ in range(ANSWERS):
                sock.sendto(b"PUNCH", got[1])
            return got[1]
    return None


def punch_and_close(sock, ip, port, peer_name):
    """The punch, then "punched ADDRESS PORT" and 0, or 1."""
    sender = punch(sock, ip, port)
    sock.close()
    if sender is None:
        print("no probe from the %s after %d bursts" % (peer_name, BURSTS))
        return 1
    print("punched %s %d" % sender)
    return 0


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


def punch_by_exchange(role, central_ip, central_port, exchange, local_port):
    sock = udp(port=local_port)
    sock.settimeout(1)
    try:
        sock.sendto(b"WHOAMI", (central_ip, central_port))
        reply, _ = sock.recvfrom(2048)
    except OSError:
        print("no answer from the reflector")
        return 1
    sock.setblocking(False)
    tmp = os.path.join(exchange, role + ".tmp")
    with open(tmp, "w") as f:
        f.write(reply.decode())
    os.rename(tmp, os.path.join(exchange, role + ".public"))
    print("public", reply.decode())
    other = "client" if role == "server" else "server"
    peer = wait_file(os.path.join(exchange, other + ".public"), 10)
    if peer is None:
        print("the other side never learned its public address")
        return 1
    if role == "client":
        sock.sendto(b"PUNCH", peer)
    return punch_and_close(sock, *peer, "peer")


def central(address, port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((address, port))
    server = None
    while True:
        data, sender = sock.recvfrom(2048)
        word = data.split()[:1]
        if word == [b"REGISTER"]:
            server = sender
            sock.sendto(b"REGISTERED", sender)
        elif word == [b"QUERY"] and server is not None:
            sock.sendto(("PEER %s %d" % server).encode(), sender)
            sock.sendto(("REQUEST %s %d" % sender).encode(), server)


def server(central_ip, central_port, ready_file):
    sock = udp()
    sock.sendto(b"REGISTER", (central_ip, central_port))
    for _ in range(2):
        time.sleep(1)
        if take(sock, "REGISTERED"):
            break
    else:
        print("central did not answer the registration")
        return 1
    open(ready_file, "w").close()
    next_tick = time.monotonic() + TICK
    for _ in range(REQUEST_TICKS):
        time.sleep(max(0.0, next_tick - time.monotonic()))
        next_tick += TICK
        got = take(sock, "REQUEST")
        if got:
            return punch_and_close(sock, got[0][1], int(got[0][2]), "client")
    print("no request")
    return 1


def client(central_ip, central_port):
    sock = udp()
    sock.sendto(b"QUERY", (central_ip, central_port))
    time.sleep(1)
    got = take(sock, "PEER")
    if not got:
        print("no peer address", file=sys.stderr)
        return 1
    ip, port = got[0][1], int(got[0][2])
    sock.sendto(b"PUNCH", (ip, port))
    peer = punch(sock, ip, port)
    sock.close()
    if peer is None:
        print("no probe from the server after %d bursts" % BURSTS, file=sys.stderr)
        return 1
    print("%s %d" % peer)
    return 0


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
    if len(argv) == 3 and argv[0] == "reflect":
        return reflect(argv[1], int(argv[2]))
    if len(argv) in (5, 6) and argv[0] == "punch":
        local_port = int(argv[5]) if len(argv) > 5 else PUNCH_PORT
        return punch_by_exchange(argv[1], argv[2], int(argv[3]), argv[4], local_port)
    if len(argv) == 3 and argv[0] == "central":
        return central(argv[1], int(argv[2]))
    if len(argv) == 4 and argv[0] == "server":
        return server(argv[1], int(argv[2]), argv[3])
    if len(argv) == 3 and argv[0] == "client":
        return client(argv[1], int(argv[2]))
    if len(argv) == 5 and argv[0] == "probe":
        return probe(argv[1], argv[2], int(argv[3]), float(argv[4]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
