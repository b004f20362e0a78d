# stop.exe ends every running process of the named image, waits until they are
# gone, and leaves every other process alone.
set -euo pipefail
. "$WINE_TESTS/program.sh"
stop="$WINDOWS_BUILD/stop/stop.exe"
scratch_dir
cd "$SCRATCH"
cp "$WINDOWS_BUILD/tests/wine/sleeper.exe" openvpn.exe
cp "$WINDOWS_BUILD/tests/wine/sleeper.exe" other.exe

# Starts a sleeper under the given image name; sets SLEEPER_PID once it runs.
start_sleeper() {
    wine "$1.exe" 120 >"$1-$2.out" &
    SLEEPER_PID=$!
    busywait 60000 grep -q ready "$1-$2.out" || fail "$1 did not start"
}

# Fails unless the Linux side of that Wine process is gone within 5 s.
expect_gone() {
    timeout 5 tail --pid="$1" -f /dev/null || fail "process $1 still runs"
}

expect_code() {
    local wanted=$1 code=0
    shift
    wine "$stop" "$@" 2>stop.err || code=$?
    [ "$code" -eq "$wanted" ] || fail "stop $* exited $code, wanted $wanted ($(cat stop.err))"
}

echo "== a program without console or window"
/usr/bin/python3 -c 'import pefile, sys; sys.exit(pefile.PE(sys.argv[1]).OPTIONAL_HEADER.Subsystem != 2)' "$stop" ||
    fail "stop.exe is not a windowed-subsystem program"

echo "== without a name: a usage line and exit code 2"
expect_code 2
grep -q '^usage: stop NAME' stop.err || fail "no usage line"

echo "== no such process: exit code 0"
expect_code 0 openvpn

echo "== every openvpn.exe ends, other.exe goes on"
start_sleeper openvpn 1; first=$SLEEPER_PID
start_sleeper openvpn 2; second=$SLEEPER_PID
start_sleeper other 1; other=$SLEEPER_PID
expect_code 0 openvpn
expect_gone "$first"
expect_gone "$second"
kill -0 "$other" 2>/dev/null || fail "other.exe was ended too"

echo "== names are matched as Windows does, without regard to case"
expect_code 0 OTHER.EXE
expect_gone "$other"
echo "OK stop"
