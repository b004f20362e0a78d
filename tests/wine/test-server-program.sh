# The whole server.exe under Wine: start-up with the OpenVPN check, "tskill openvpn"
# and the central server's discovery, the dialog from IDLE through a Connect that
# finds no central server to "CENTRAL TIMEOUT" and its ten-second retry, and Cancel
# with exit code 0 and "tskill openvpn" on the way out.
set -eu
. "$WINE_TESTS/whole-program.sh"
CAPTION="VPN SERVER"
make_workdir punchvpn-server
install_openvpn

echo "== start-up: tskill openvpn once, discovery with ping, IDLE"
start_program server.exe "$CAPTION"
expect_driver 0 expect "$CAPTION" 1005 IDLE 5000
expect_calls 1 5
[ "$(calls)" = "tskill openvpn" ] || fail "start-up ran \"$(calls)\", wanted \"tskill openvpn\""
# The test's namespace has no name service: ping cannot resolve the central host.
grep -qi "could not find host" log || fail "log does not hold ping's output: $(cat log 2>&1)"

echo "== Connect with an empty password changes nothing"
set_field "$CAPTION" 1003 office
expect_driver 0 press "$CAPTION" 1000
sleep 1
[ "$(driver status "$CAPTION" | tr -d '\r')" = IDLE ] || fail "the status left IDLE"
[ ! -e unamepass ] || fail "unamepass written without a password"
save_screenshot "$CAPTION" server-idle

echo "== Connect without a central server: CENTRAL TIMEOUT, retried after ten seconds"
set_field "$CAPTION" 1004 secret
expect_driver 0 press "$CAPTION" 1000
# "REPORT TO CENTRAL" shows only inside the registration's busy-wait of two seconds.
expect_driver 0 expect "$CAPTION" 1005 "CENTRAL TIMEOUT" 10000
started=$(date +%s)
save_screenshot "$CAPTION" server-central-timeout
expect_bytes unamepass 'office secret\r\n'
# The first tick comes ten seconds after CENTRAL TIMEOUT, shows heartbeat 0 and
# registers again (another CENTRAL TIMEOUT two seconds later).
sleep 5
[ -z "$(driver get "$CAPTION" 1006 | tr -d '\r')" ] || fail "a tick came within five seconds"
expect_driver 0 expect "$CAPTION" 1006 0 10000
elapsed=$(($(date +%s) - started))
[ "$elapsed" -ge 8 ] || fail "the first tick came after $elapsed s, wanted about 10"
expect_driver 0 expect "$CAPTION" 1005 "CENTRAL TIMEOUT" 10000
expect_calls 1 1

echo "== Cancel: exit code 0, and OpenVPN is stopped on the way out"
expect_driver 0 press "$CAPTION" 2
expect_exit 0 10
expect_calls 2 5
[ "$(calls)" = $'tskill openvpn\ntskill openvpn' ] || fail "calls: $(calls | tr '\n' ';')"
echo "OK server program"
