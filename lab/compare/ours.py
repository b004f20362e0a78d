#!/usr/bin/python3
"""Our rendezvous and punch, scripted with the programs' own timings, for the
comparison's stand-in row "ours-scripted", beside the programs themselves: what the
protocol's timers alone cost, without Wine and the dialogs. Plain UDP, port 1194 in
the homes; nothing but timing and the order of the datagrams is modelled.

  ours.py central ADDRESS PORT
      At central's position: a server's REGISTER is answered REGISTERED and its
      public address kept; a client's QUERY is answered with PEER and the server's
      public address, and the server gets REQUEST with the client's.
  ours.py server CENTRAL PORT READY_FILE
      As server.exe: registers (looking for the answer after 1 s, and once more 1 s
      later), touches READY_FILE, then looks for a request once per 1 s tick. On a
      request: up to seven bursts to the client's port and its four neighbours, each
      followed by a 1 s wait before it looks for a probe; the first probe is answered
      four times. Prints "punched ADDRESS PORT" and exits 0, or exits 1.
  ours.py client CENTRAL PORT
      As client.exe's Connect: QUERY to central, 1 s wait, the peer's address; one
      probe, then up to seven bursts, each followed by a 1 s wait before it looks for
      the server's probe, answered four times. Prints the sender of that probe as
      "ADDRESS PORT" (op.bat's --remote) and exits 0, or exits 1.
"""
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
    for _ in range(BURSTS):
        burst(sock, ip, port)
        time.sleep(1)
        got = take(sock, "PUNCH")
        if got:
            for _ in range(ANSWERS):
                sock.sendto(b"PUNCH", got[1])
            return got[1]
    return None


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
            peer = punch(sock, got[0][1], int(got[0][2]))
            sock.close()
            if peer is None:
                print("no probe from the client after %d bursts" % BURSTS)
                return 1
            print("punched %s %d" % peer)
            return 0
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


def main(argv):
    if len(argv) == 3 and argv[0] == "central":
        return central(argv[1], int(argv[2]))
    if len(argv) == 4 and argv[0] == "server":
        return server(argv[1], int(argv[2]), argv[3])
    if len(argv) == 3 and argv[0] == "client":
        return client(argv[1], int(argv[2]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
