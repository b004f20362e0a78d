# The dialog driver's own answers: its exit codes for a bad command line, a
# missing window or control, and a window that answers no message (as a dialog
# inside a busy-wait), which must cost the timeout and not hang.
set -eu
. "$WINE_TESTS/program.sh"
cd "$(mktemp -d)"

echo "== bad command lines and missing windows"
expect_driver 2 frobnicate "VPN CLIENT"
expect_driver 2 get
expect_driver 1 find "NO SUCH WINDOW"
expect_driver 1 command NOSUCHCLASS 104
expect_driver 3 wait "NO SUCH WINDOW" 300
expect_driver 0 gone "NO SUCH WINDOW" 300

echo "== a window that answers no message"
wine "$WINDOWS_BUILD/tests/wine/sleeper.exe" 120 "STUCK" >sleeper.out &
stuck=$!
timeout 60 xdotool search --sync --onlyvisible --name '^STUCK$' >/dev/null || fail "no window STUCK"
expect_driver 0 visible STUCK
expect_driver 3 gone STUCK 300
expect_driver 1 get STUCK 1003
start=$(date +%s)
expect_driver 3 status STUCK
expect_driver 3 set STUCK 1005 IDLE
expect_driver 3 expect STUCK 1005 IDLE 1000
expect_driver 3 controls STUCK
elapsed=$(($(date +%s) - start))
# Four commands of at most about 3 s each.
[ "$elapsed" -le 20 ] || fail "the driver waited $elapsed s for four unanswered commands"
kill "$stuck"
echo "OK driver"
