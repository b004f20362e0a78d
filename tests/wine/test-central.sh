# Both whole programs against the real central service, inside the test's own
# network: central on 192.0.2.10, which the build's central host name resolves to,
# scripted counterparts for the other side, and the tunnel's two addresses on lo.
# The server: a name held by another computer, registration, a client's request,
# the punch, OpenVPN started, the tunnel confirmed by probes, a wrong password and
# the registration that follows, Cancel with OpenVPN stopped. The client: the
# query, the punch, op.bat towards the address the server's probe came from, the
# tunnel confirmed, the shared folders opened, Cancel with OpenVPN stopped.
set -euo pipefail
# ping resolves through /etc/hosts: this test needs a hosts file of its own, so it
# runs in a mount namespace of its own (before the first Wine process starts).
if [ -z "${WINE_TEST_OWN_MOUNTS:-}" ]; then
    WINE_TEST_OWN_MOUNTS=1 exec unshare --mount bash "$0"
fi
. "$WINE_TESTS/whole-program.sh"
PEER="/usr/bin/python3 $WINE_TESTS/rendezvous-peer.py"
central=${NATIVE_BUILD:-$WINDOWS_BUILD/../native}/central/central
[ -x "$central" ] || fail "no central at $central: build the native tree first (make native)"
host=$(sed -n 's/^CENTRAL_HOST:STRING=//p' "$WINDOWS_BUILD/CMakeCache.txt")
[ -n "$host" ] || fail "no CENTRAL_HOST in $WINDOWS_BUILD/CMakeCache.txt"

ip addr add 192.0.2.10/32 dev lo # central
ip addr add 192.0.2.20/32 dev lo # the scripted server
ip addr add 192.0.2.30/32 dev lo # the scripted client
scratch_dir
scratch=$SCRATCH
printf '127.0.0.1 localhost\n192.0.2.10 %s\n' "$host" >"$scratch/hosts"
mount --bind "$scratch/hosts" /etc/hosts

# Starts CMD... in the background, to be ended by the cleanup stack; sets LAST_PID.
background() {
    "$@" &
    LAST_PID=$!
    defer end_pid "$LAST_PID"
}
central_listens() { ss -Hlun | grep -q "192.0.2.10:3478"; }

background "$central" --bind 192.0.2.10 --port 3478 --stats-interval 0 2>"$scratch/central.log"
busywait 10000 central_listens || fail "central does not listen: $(cat "$scratch/central.log")"
central_log() { cat "$scratch/central.log"; }

# The tunnel: a veth pair to a namespace of its own for the far end. (Wine binds a
# UDP socket on an interface's address as the wildcard address on that interface,
# so both ends on one interface would hold the same port 8080.)
netns_holder || fail "the tunnel's far end has no namespace"
tunnel=$NETNS_PID
ip link add wt0 type veth peer name wt1 netns "$tunnel"
ip link set wt0 up
nsenter --net --target "$tunnel" ip link set wt1 up
# Gives this end of the tunnel the address HERE and the far end THERE.
tunnel_addresses() {
    ip addr flush dev wt0
    ip addr add "$1/24" dev wt0
    nsenter --net --target "$tunnel" ip addr flush dev wt1
    nsenter --net --target "$tunnel" ip addr add "$2/24" dev wt1
}
# far_probe FROM TO PASSWORD SECONDS: the far end sends its probes (and counts the
# ones it gets) in the background; sets PROBE_PID.
far_probe() {
    background nsenter --net --target "$tunnel" $PEER probe "$1" "$2" "$3" "$4" >"$scratch/probe.log" 2>&1
    PROBE_PID=$LAST_PID
}
expect_central() {
    busywait 10000 grep -qE "$1" "$scratch/central.log" ||
        fail "central logged no line like \"$1\": $(central_log)"
}
# Waits for background process PID and fails unless it ends with 0 within SECONDS.
expect_peer() {
    local pid=$1 seconds=$2 what=$3 status=0
    timeout "$seconds" tail --pid="$pid" -f /dev/null || fail "$what did not end"
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$what failed with $status: $(cat "$4"); central: $(central_log)"
}

# A server on another computer holds the name "office"; it stays there for the client.
background $PEER server office OTHERPC 192.0.2.20:40000 192.0.2.10 150 >"$scratch/holder.log" 2>&1
expect_central "^.*registered name=office computer=OTHERPC from=192.0.2.20:40000"

echo "== server: discovery finds central"
CAPTION=$SERVER_CAPTION
tunnel_addresses 10.8.0.1 10.8.0.2
install_program server
start_program "$PROGRAM" "$CAPTION"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$IDLE" 5000
tr -d '\r' <log
grep -q "\[192.0.2.10\]" log || fail "ping did not resolve $host to 192.0.2.10"

echo "== server: a name held by another computer: NAME HAS BEEN USED"
set_field "$CAPTION" $NAME_FIELD office
set_field "$CAPTION" $PASSWORD_FIELD secret
expect_driver 0 press "$CAPTION" $CONNECT_BUTTON
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$NAME_HAS_BEEN_USED" 10000
expect_central "name taken name=office computer=WINETEST from=192.0.2.10:1194"
save_screenshot "$CAPTION" server-name-has-been-used

echo "== server: a free name: WAIT FOR REQUEST"
set_field "$CAPTION" $NAME_FIELD home
expect_driver 0 press "$CAPTION" $CONNECT_BUTTON
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$WAIT_FOR_REQUEST" 10000
expect_central "registered name=home computer=WINETEST from=192.0.2.10:1194"
save_screenshot "$CAPTION" server-wait-for-request

echo "== server: a client's request, the punch, START OPENVPN"
background $PEER client home 192.0.2.30:40001 192.0.2.10 15 >"$scratch/client.log" 2>&1
expect_peer $LAST_PID 20 "the scripted client's punch" "$scratch/client.log"
cat "$scratch/client.log"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$START_OPENVPN" 10000
save_screenshot "$CAPTION" server-start-openvpn
expect_calls 2 5
[ "$(calls | tail -1)" = "openvpn server.ovpn" ] || fail "calls: $(calls | tr '\n' ';')"

echo "== server: the client's probes confirm the tunnel"
far_probe 10.8.0.2 10.8.0.1 secret 5
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$CONNECTED" 5000
save_screenshot "$CAPTION" server-connected
expect_peer $PROBE_PID 10 "the client's end of the probe" "$scratch/probe.log"

echo "== server: a probe with another password: WRONG PASSWORD, OpenVPN stopped, registered again"
# The text stands for one tick only, so the driver watches before the probe goes.
driver expect "$CAPTION" $STATUS_LINE "$WRONG_PASSWORD" 8000 &
watcher=$!
sleep 1
far_probe 10.8.0.2 10.8.0.1 secreT 3
wait "$watcher" || fail "no WRONG PASSWORD"
expect_calls 3 5
[ "$(calls | tail -1)" = "tskill openvpn" ] || fail "calls: $(calls | tr '\n' ';')"
expect_central "refreshed name=home computer=WINETEST from=192.0.2.10:1194"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$WAIT_FOR_REQUEST" 10000

echo "== server: Cancel: exit code 0, OpenVPN stopped"
expect_driver 0 press "$CAPTION" $IDCANCEL
expect_exit 0 10
expect_calls 4 5
[ "$(calls | tail -1)" = "tskill openvpn" ] || fail "calls: $(calls | tr '\n' ';')"

echo "== client: the query, the punch, op.bat, START OPENVPN"
CAPTION=$CLIENT_CAPTION
tunnel_addresses 10.8.0.2 10.8.0.1
install_program client
start_program "$PROGRAM" "$CAPTION"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$IDLE" 5000
set_field "$CAPTION" $NAME_FIELD office
set_field "$CAPTION" $PASSWORD_FIELD secret
expect_driver 0 press "$CAPTION" $CONNECT_BUTTON
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$START_OPENVPN" 20000
save_screenshot "$CAPTION" client-start-openvpn
cat "$scratch/holder.log"
expect_central "query answered name=office client=192.0.2.10:1194 server=192.0.2.20:40000"
expect_bytes op.bat 'openvpn --config client.ovpn --remote 192.0.2.20 40000 < unamepass\r\nexit'
expect_calls 2 5
[ "$(calls | tail -1)" = "openvpn --config client.ovpn --remote 192.0.2.20 40000" ] ||
    fail "calls: $(calls | tr '\n' ';')"

echo "== client: the server's probes confirm the tunnel; the shared folders open on the 12th tick"
far_probe 10.8.0.1 10.8.0.2 secret 16
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$CONNECTED" 5000
save_screenshot "$CAPTION" client-connected
expect_calls 3 20
calls
calls | tail -1 | grep -qE '^explorer \\{1,2}10\.8\.0\.1$' || fail "calls: $(calls | tr '\n' ';')"

echo "== client: Cancel while connected: exit code 0, OpenVPN stopped"
expect_driver 0 press "$CAPTION" $IDCANCEL
expect_exit 0 10
expect_calls 4 5
[ "$(calls | tail -1)" = "tskill openvpn" ] || fail "calls: $(calls | tr '\n' ';')"
central_log
echo "OK both programs with central"
