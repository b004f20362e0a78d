# Helpers for the tests of the whole programs, sourced by the test scripts: the
# program installed by its installer into Program Files, as users install it, and
# started there as its Start-menu shortcut starts it; OpenVPN installed or not; and
# the calls the command doubles recorded (run-wine-tests lays the prefix out as
# Windows is: the doubles in system32 and in OpenVPN's bin folder).
. "$WINE_TESTS/program.sh"

# The client names the hosts file without a drive letter, so it lies on the drive
# of the working directory: C:, the prefix's drive_c.
HOSTS_FILE="$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"

# install_program SIDE: installs the side from the run's kits, silently, into a fresh
# C:\Program Files\punchvpn SIDE, and changes into that folder, the working directory
# its shortcut gives. Sets WORK (that folder) and PROGRAM (the program's Windows path).
# The calls the installation made are not kept.
install_program() {
    local side=$1
    WORK=$(wine_unix_path "C:\\Program Files\\punchvpn $side")
    PROGRAM="C:\\Program Files\\punchvpn $side\\$side.exe"
    rm -rf "$WORK"
    wine "$WINE_KITS/punchvpn-$side-setup.exe" /S || fail "the $side installer failed"
    cd "$WORK" || fail "the $side installer made no $WORK"
    # The one double beside a program: Windows finds explorer.exe in its own folder,
    # but Wine's system32 holds its own, which draws Wine's desktop and cannot make way;
    # "start explorer" looks in the working directory first.
    if [ "$side" = client ]; then ln -sfn "$WINE_TESTS/call-double" explorer.exe; fi
    : >"$CALLS_LOG"
}

install_openvpn() { wine_openvpn_install "$WINE_TESTS/call-double"; }
uninstall_openvpn() { wine_openvpn_uninstall; }

# The calls recorded so far, one per line.
calls() { cat "$CALLS_LOG" 2>/dev/null; }

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

# Starts PROGRAM, which must show IDLE and run "tskill openvpn" once on its way up.
expect_start_up() {
    local caption=$1
    start_program "$PROGRAM" "$caption"
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
