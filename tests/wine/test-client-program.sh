# The whole client.exe under Wine: start-up with the OpenVPN check, "tskill openvpn"
# and the hosts entry, the dialog from IDLE through a Connect that finds no central
# server to "SERVER NOT READY", and Cancel with exit code 0.
set -euo pipefail
. "$WINE_TESTS/whole-program.sh"
CAPTION=$CLIENT_CAPTION
install_program client

# A hosts file with a line for 10.8.0.10, which does not name the server, and a last
# line without a line break.
mkdir -p "$(dirname "$HOSTS_FILE")"
printf '127.0.0.1       localhost\r\n10.8.0.10       printer\r\n# 10.8.0.1  commented out' >"$HOSTS_FILE"
earlier=$(tr -d '\r' <"$HOSTS_FILE")

# The hosts file without carriage returns; the program writes it in text mode.
hosts_text() { tr -d '\r' <"$HOSTS_FILE"; }

echo "== start-up: tskill openvpn once, the hosts entry, IDLE"
expect_start_up "$CAPTION"
hosts_text
[ "$(hosts_text)" = "$earlier"$'\n''10.8.0.1         Server' ] ||
    fail "the hosts file is not the earlier content followed by the entry"
grep -q $'^10.8.0.1         Server\r$' "$HOSTS_FILE" || fail "the entry is not a CR LF line"

echo "== Connect with an empty password changes nothing"
expect_no_connect_without_password "$CAPTION" client-idle

echo "== Connect without a central server: SERVER NOT READY"
set_field "$CAPTION" $PASSWORD_FIELD secret
expect_driver 0 press "$CAPTION" $CONNECT_BUTTON
# Discovery (ping), then one second for the central server's answer.
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$SERVER_NOT_READY" 20000
save_screenshot "$CAPTION" client-server-not-ready
expect_bytes unamepass 'office secret\r\n'
expect_closed "C:\\Program Files\\punchvpn client\\unamepass"
# ping's output stays in log: it could not resolve the central server's name.
grep -qi "could not find host" log || fail "log does not hold ping's output: $(cat log)"
[ ! -e op.bat ] || fail "op.bat written although no server answered"
expect_calls 1 1

echo "== Cancel in Idle: exit code 0, OpenVPN is not stopped again"
expect_driver 0 press "$CAPTION" $IDCANCEL
expect_exit 0 10
expect_calls 1 2

echo "== a second start finds its own entry and adds nothing"
start_program "$PROGRAM" "$CAPTION"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$IDLE" 5000
expect_driver 0 press "$CAPTION" $IDCANCEL
expect_exit 0 10
expect_calls 2 5
[ "$(hosts_text)" = "$earlier"$'\n''10.8.0.1         Server' ] ||
    fail "the second start changed the hosts file: $(hosts_text)"
echo "OK client program"
