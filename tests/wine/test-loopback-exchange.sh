# The shared datagram endpoint and rendezvous primitives on the real Winsock:
# one message each way on loopback, and Winsock's rule for oversized datagrams.
set -euo pipefail
out=$(wine "$WINDOWS_BUILD/tests/wine/loopback_exchange.exe")
echo "$out"
[ "$(printf '%s' "$out" | tr -d '\r')" = "OK loopback exchange" ]
