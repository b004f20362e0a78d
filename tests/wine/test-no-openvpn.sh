# Without OpenVPN (no "c:\program files\openvpn\license.txt", nothing in the registry)
# each installed program starts remind.bat in a shown window and ends with exit code
# 0 before any window of its own: no dialog, no main window, no "tskill openvpn", and
# the client leaves the hosts file alone.
set -euo pipefail
. "$WINE_TESTS/whole-program.sh"
uninstall_openvpn
defer install_openvpn
# remind.bat as the kit has it opens a titled console window that waits for a key;
# this one records that it ran, and with which arguments.
fake_remind() { printf '@echo off\r\ntitle remind test\r\necho ran %%*>remind.ran\r\npause\r\n' >remind.bat; }
# The checksum of the hosts file, or of nothing where there is none.
hosts_sum() { { cat "$HOSTS_FILE" 2>/dev/null || true; } | md5sum; }
HOSTS_FILE_BEFORE=$(hosts_sum)

# Fails unless the program ends with 0 and remind.bat ran in a shown window, while
# no window of the program came up (watched from the X side the whole time).
check_reminds() {
    local exe=$1 windows="^($CLIENT_CAPTION|$SERVER_CAPTION|CLIENT|server|About)\$"
    rm -f remind.ran seen
    wine "$PROGRAM" &
    PROGRAM_PID=$!
    while kill -0 "$PROGRAM_PID" 2>/dev/null; do
        x_windows "$windows" >/dev/null && touch seen
        sleep 0.05
    done
    expect_exit 0 60
    [ ! -e seen ] || fail "a window of $exe appeared"
    busywait 20000 test -e remind.ran || fail "remind.bat did not run"
    [ "$(tr -d '\r ' <remind.ran)" = ran ] || fail "remind.bat got arguments: $(cat remind.ran)"
    local window
    window=$(x_window_wait 20000 '^remind test$') ||
        fail "remind.bat has no shown window"
    # A key ends it.
    xdotool windowfocus --sync "$window" key space 2>/dev/null || true
    busywait 10000 x_window_gone '^remind test$' ||
        fail "the window of remind.bat did not close on a key"
}

echo "== client.exe"
install_program client
fake_remind
check_reminds client.exe
[ ! -e hosts ] || fail "the client made its scratch copy of the hosts file"
[ "$(hosts_sum)" = "$HOSTS_FILE_BEFORE" ] || fail "the hosts file changed"
[ -z "$(calls)" ] || fail "OpenVPN commands ran: $(calls | tr '\n' ';')"
echo "== server.exe"
install_program server
fake_remind
check_reminds server.exe
[ ! -e log ] || fail "the server ran its discovery"
[ -z "$(calls)" ] || fail "OpenVPN commands ran: $(calls | tr '\n' ';')"
echo "OK both programs remind and end"
