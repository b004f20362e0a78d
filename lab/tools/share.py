#!/usr/bin/python3
"""Stands in for Windows' file sharing in the server's home: listens on TCP 445 and
writes a line for each connection it accepts ("SECONDS FROM-ADDRESS") to the file named
on the command line, then closes it. Explorer on the client opens \\\\10.8.0.1 over this
port; whether the server's firewall lets it through shows in that file.
Usage: share.py LOG_FILE"""
import socket
import sys
import time


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("0.0.0.0", 445))
    listener.listen(8)
    while True:
        connection, (address, _port) = listener.accept()
        with open(sys.argv[1], "a") as log:
            log.write("%.6f %s\n" % (time.time(), address))
        connection.close()


if __name__ == "__main__":
    main()
