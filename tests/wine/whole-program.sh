# Helpers for the tests of the whole programs, sourced by the
# test scripts: a working directory on drive C: with the programs and the command
# doubles in it, OpenVPN "installed" or not, and the calls the doubles recorded.
. "$WINE_TESTS/program.sh"

OPENVPN_DIR="$WINEPREFIX/drive_c/Program Files/OpenVPN"
# The client names the hosts file without a drive letter, so it lies on the drive
# of the working directory: C:, the prefix's drive_c.
HOSTS_FILE="$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"

# Makes c:\NAME afresh with client.exe, server.exe and the doubles tskill.exe,
# openvpn.exe, stop.exe and explorer.exe, and changes into it. Sets WORK.
make_workdir() {
    WORK="$WINEPREFIX/drive_c/$1"
    rm -rf "$WORK"
    mkdir -p "$WORK" || fail "cannot make $WORK"
    cd "$WORK"
    cp "$WINDOWS_BUILD/client/client.exe" "$WINDOWS_BUILD/server/server.exe" . ||
        fail "the programs are not built"
    local f
    for f in tskill openvpn stop explorer; do ln -s "$WINE_TESTS/call-double" "$f.exe"; done
}

# The programs look for "c:\program files\openvpn\license.txt".
install_openvpn() {
    mkdir -p "$OPENVPN_DIR"
    echo "OpenVPN (Wine test stand-in)" >"$OPENVPN_DIR/license.txt"
}
uninstall_openvpn() { rm -f "$OPENVPN_DIR/license.txt"; }

# The calls recorded so far, one per line.
calls() { cat "$WORK/calls.log" 2>/dev/null; }

calls_at_least() { [ "$(calls | wc -l)" -ge "$1" ]; }

# Waits up to SECONDS until COUNT calls are recorded, then lets late ones arrive
# for half a second and fails unless exactly COUNT are there. WinExec does not
# wait, so a call may be recorded after the program has ended.
expect_calls() {
    local count=$1 seconds=$2
    busywait $((seconds * 1000)) calls_at_least "$count" || true
    sleep 0.5
    [ "$(calls | wc -l)" -eq "$count" ] ||
        fail "wanted $count recorded calls, got: $(calls | tr '\n' ';')"
}

# Fails unless FILE holds exactly the bytes of the printf format FORMAT.
expect_bytes() {
    local file=$1 format=$2
    [ -f "$file" ] || fail "no file $file"
    cmp -s "$file" <(printf "$format") ||
        fail "$file holds $(od -c "$file" | head -5), wanted $(printf "$format" | od -c | head -5)"
}

# Sets a control's text and checks that the dialog took it.
set_field() {
    local caption=$1 id=$2 text=$3
    expect_driver 0 set "$caption" "$id" "$text"
    [ "$(driver get "$caption" "$id" | tr -d '\r')" = "$text" ] ||
        fail "control $id of \"$caption\" does not show \"$text\""
}

# Starts EXE, which must show IDLE and run "tskill openvpn" once on its way up.
expect_start_up() {
    local exe=$1 caption=$2
    start_program "$exe" "$caption"
    expect_driver 0 expect "$caption" $STATUS_LINE "$IDLE" 5000
    expect_calls 1 5
    [ "$(calls)" = "tskill openvpn" ] || fail "start-up ran \"$(calls)\", wanted \"tskill openvpn\""
}

# A name without a password: Connect changes nothing. Saves the dialog as SHOT.
expect_no_connect_without_password() {
    local caption=$1 shot=$2
    set_field "$caption" $NAME_FIELD office
    expect_driver 0 press "$caption" $CONNECT_BUTTON
    sleep 1
    [ "$(driver status "$caption" | tr -d '\r')" = "$IDLE" ] || fail "the status left IDLE"
    [ ! -e unamepass ] || fail "unamepass written without a password"
    save_screenshot "$caption" "$shot"
}
