# Helpers for the tests of the real programs, sourced by test scripts: start a
# program under Wine, drive its windows, and wait for its exit code.
. "$WINE_TESTS/../../tools/lib.sh"

DRIVER="$WINDOWS_BUILD/tests/wine/driver.exe"

driver() { wine "$DRIVER" "$@"; }

fail() { echo "FAIL: $*"; exit 1; }

# Runs a driver command and fails the test unless it exits with the wanted code.
expect_driver() {
    local wanted=$1 code=0
    shift
    driver "$@" || code=$?
    [ "$code" -eq "$wanted" ] || fail "driver $* exited $code, wanted $wanted"
}

# Starts EXE in the current directory and waits until its window CAPTION is on
# the display (seen from the X side, so that the first Wine process of a fresh
# wineserver is not the driver). Sets PROGRAM_PID.
start_program() {
    local exe=$1 caption=$2
    wine "$exe" &
    PROGRAM_PID=$!
    x_window_wait 60000 "^$caption\$" >/dev/null ||
        fail "no window \"$caption\" from $(basename "$exe")"
    expect_driver 0 wait "$caption" 10000
}

# The program PROGRAM_PID has ended.
program_gone() { ! kill -0 "$PROGRAM_PID" 2>/dev/null; }

# Waits up to SECONDS for PROGRAM_PID to end and fails unless it exits with CODE.
expect_exit() {
    local code=$1 seconds=$2 status=0
    if ! busywait $((seconds * 1000)) program_gone; then
        kill "$PROGRAM_PID"
        fail "the program did not end within $seconds s"
    fi
    wait "$PROGRAM_PID" || status=$?
    [ "$status" -eq "$code" ] || fail "the program exited with $status, wanted $code"
}

# Saves a screenshot of window CAPTION as NAME.png among the test outputs.
save_screenshot() {
    local caption=$1 name=$2
    expect_driver 0 screenshot "$caption" "$name.bmp"
    convert "$name.bmp" "$WINE_OUTPUT/$name.png" || fail "cannot convert $name.bmp"
}

# Checks the controls of window CAPTION against a table in dialog units (stdin).
expect_controls() {
    local caption=$1 width=$2 height=$3 listing
    listing=$(driver controls "$caption") || fail "cannot list the controls of \"$caption\""
    echo "$listing"
    /usr/bin/python3 "$WINE_TESTS/compare-controls.py" "$width" "$height" <(echo "$listing") /dev/stdin ||
        fail "the controls of \"$caption\" differ"
}

# The owner and access list of file or folder PATH (a Windows path) in SDDL, as
# Windows reads them back. Under Wine the list is the Unix mode: an entry for
# Everyone (WD) stands for what other users may do.
rights() { wine "$WINDOWS_BUILD/tests/wine/rights.exe" "$1" | tr -d '\r'; }

# Fails unless nobody but its owner and SYSTEM may open file PATH: no entry for
# Everyone.
expect_closed() {
    local read; read=$(rights "$1") || fail "cannot read the rights of $1"
    [[ $read != *";WD)"* ]] || fail "$1 is open to everyone: $read"
}

# Fails unless the entries for Everyone of PATH grant nothing beyond read, list and
# run (0x1200a9): other users cannot change it or add to it.
expect_unchangeable() {
    local read entry mask
    read=$(rights "$1") || fail "cannot read the rights of $1"
    for entry in $(grep -o '([^()]*;WD)' <<<"$read"); do
        mask=$(cut -d';' -f3 <<<"$entry")
        [[ $mask == 0x* ]] && (((mask & ~0x1200a9) == 0)) || fail "everyone may change $1: $read"
    done
}
