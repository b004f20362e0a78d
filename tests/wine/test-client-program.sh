# The whole client.exe under Wine: start-up with the OpenVPN check, "tskill openvpn"
# and the hosts entry, the dialog from IDLE through a Connect that finds no central
# server to "SERVER NOT READY", and Cancel with exit code 0.
set -eu
. "$WINE_TESTS/whole-program.sh"
CAPTION="VPN CLIENT"
make_workdir punchvpn-client
install_openvpn

# A hosts file with a line for 10.8.0.10, which does not name the server, and a last
# line without a line break.
mkdir -p "$(dirname "$HOSTS_FILE")"
printf '127.0.0.1       localhost\r\n10.8.0.10       printer\r\n# 10.8.0.1  commented out' >"$HOSTS_FILE"
earlier=$(tr -d '\r' <"$HOSTS_FILE")

# The hosts file without carriage returns; the program writes it in text mode.
hosts_text() { tr -d '\r' <"$HOSTS_FILE"; }

echo "== start-up: tskill openvpn once, the hosts entry, IDLE"
start_program client.exe "$CAPTION"
expect_driver 0 expect "$CAPTION" 1005 IDLE 5000
expect_calls 1 5
[ "$(calls)" = "tskill openvpn" ] || fail "start-up ran \"$(calls)\", wanted \"tskill openvpn\""
hosts_text
[ "$(hosts_text)" = "$earlier"$'\n''10.8.0.1         Server' ] ||
    fail "the hosts file is not the earlier content followed by the entry"
grep -q $'^10.8.0.1         Server\r$' "$HOSTS_FILE" || fail "the entry is not a CR LF line"

echo "== Connect with an empty password changes nothing"
set_field "$CAPTION" 1003 office
expect_driver 0 press "$CAPTION" 1000
sleep 1
[ "$(driver status "$CAPTION" | tr -d '\r')" = IDLE ] || fail "the status left IDLE"
[ ! -e unamepass ] || fail "unamepass written without a password"
save_screenshot "$CAPTION" client-idle

echo "== Connect without a central server: SERVER NOT READY"
set_field "$CAPTION" 1004 secret
expect_driver 0 press "$CAPTION" 1000
# Discovery (ping), then one second for the central server's answer.
expect_driver 0 expect "$CAPTION" 1005 "SERVER NOT READY" 20000
save_screenshot "$CAPTION" client-server-not-ready
expect_bytes unamepass 'office secret\r\n'
# ping's output stays in log: it could not resolve the central server's name.
grep -qi "could not find host" log || fail "log does not hold ping's output: $(cat log)"
[ ! -e op.bat ] || fail "op.bat written although no server answered"
expect_calls 1 1

echo "== Cancel in Idle: exit code 0, OpenVPN is not stopped again"
expect_driver 0 press "$CAPTION" 2
expect_exit 0 10
expect_calls 1 2

echo "== a second start finds its own entry and adds nothing"
start_program client.exe "$CAPTION"
expect_driver 0 expect "$CAPTION" 1005 IDLE 5000
expect_driver 0 press "$CAPTION" 2
expect_exit 0 10
expect_calls 2 5
[ "$(hosts_text)" = "$earlier"$'\n''10.8.0.1         Server' ] ||
    fail "the second start changed the hosts file: $(hosts_text)"
echo "OK client program"
