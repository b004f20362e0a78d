# The whole server.exe under Wine: start-up with the OpenVPN check, "tskill openvpn"
# and the central server's discovery, the dialog from IDLE through a Connect that
# finds no central server to "CENTRAL TIMEOUT" and its ten-second retry, and Cancel
# with exit code 0 and "tskill openvpn" on the way out.
set -euo pipefail
. "$WINE_TESTS/whole-program.sh"
CAPTION=$SERVER_CAPTION
install_program server

echo "== start-up: tskill openvpn once, discovery with ping, IDLE"
expect_start_up "$CAPTION"
# The test's namespace has no name service: ping cannot resolve the central host.
grep -qi "could not find host" log || fail "log does not hold ping's output: $(cat log 2>&1)"

echo "== Connect with an empty password changes nothing"
expect_no_connect_without_password "$CAPTION" server-idle

echo "== Connect without a central server: CENTRAL TIMEOUT, retried after ten seconds"
set_field "$CAPTION" $PASSWORD_FIELD secret
expect_driver 0 press "$CAPTION" $CONNECT_BUTTON
# "REPORT TO CENTRAL" shows only inside the registration's busy-wait of two seconds.
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$CENTRAL_TIMEOUT" 10000
started=$(date +%s)
save_screenshot "$CAPTION" server-central-timeout
expect_bytes unamepass 'office secret\r\n'
expect_closed "C:\\Program Files\\punchvpn server\\unamepass"
# The first tick comes ten seconds after CENTRAL TIMEOUT, shows heartbeat 0 and
# registers again (another CENTRAL TIMEOUT two seconds later).
sleep 5
[ -z "$(driver get "$CAPTION" $HEARTBEAT_FIELD | tr -d '\r')" ] || fail "a tick came within five seconds"
expect_driver 0 expect "$CAPTION" $HEARTBEAT_FIELD 0 10000
elapsed=$(($(date +%s) - started))
[ "$elapsed" -ge 8 ] || fail "the first tick came after $elapsed s, wanted about 10"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$CENTRAL_TIMEOUT" 10000
expect_calls 1 1

echo "== Cancel: exit code 0, and OpenVPN is stopped on the way out"
expect_driver 0 press "$CAPTION" $IDCANCEL
expect_exit 0 10
expect_calls 2 5
[ "$(calls)" = $'tskill openvpn\ntskill openvpn' ] || fail "calls: $(calls | tr '\n' ';')"
echo "OK server program"
