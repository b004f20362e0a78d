# The dialog driver's own answers: its exit codes for a bad command line, a
# missing window or control, and a window that answers no message (as a dialog
# inside a busy-wait), which must cost the timeout and not hang.
set -euo pipefail
. "$WINE_TESTS/program.sh"
scratch_dir
cd "$SCRATCH"

echo "== bad command lines and missing windows"
expect_driver 2 frobnicate "$CLIENT_CAPTION"
expect_driver 2 get
expect_driver 1 find "NO SUCH WINDOW"
expect_driver 1 command NOSUCHCLASS $COMMAND_ABOUT
expect_driver 3 wait "NO SUCH WINDOW" 300
expect_driver 0 gone "NO SUCH WINDOW" 300

echo "== a window that answers no message"
wine "$WINDOWS_BUILD/tests/wine/sleeper.exe" 120 "STUCK" >sleeper.out &
stuck=$!
x_window_wait 60000 '^STUCK$' >/dev/null || fail "no window STUCK"
expect_driver 0 visible STUCK
expect_driver 3 gone STUCK 300
expect_driver 1 get STUCK $NAME_FIELD
start=$(date +%s)
expect_driver 3 status STUCK
expect_driver 3 set STUCK $STATUS_LINE "$IDLE"
expect_driver 3 expect STUCK $STATUS_LINE "$IDLE" 1000
expect_driver 3 controls STUCK
elapsed=$(($(date +%s) - start))
# Four commands of at most about 3 s each.
[ "$elapsed" -le 20 ] || fail "the driver waited $elapsed s for four unanswered commands"
kill "$stuck"
echo "OK driver"
