# Checks of one program's windows, sourced by test-client-window.sh and
# test-server-window.sh after they set PROGRAM, CAPTION, CLASS, CONTROLS (the
# control dialog's controls, in dialog units) and ABOUT (the About box's).
. "$WINE_TESTS/program.sh"
exe="$WINDOWS_BUILD/$PROGRAM/$PROGRAM.exe"
cd "$(mktemp -d)"
# The programs start only where OpenVPN is installed.
mkdir -p "$WINEPREFIX/drive_c/Program Files/OpenVPN"
touch "$WINEPREFIX/drive_c/Program Files/OpenVPN/license.txt"

open_about() {
    expect_driver 0 command "$CLASS" 104
    expect_driver 0 wait About 5000
}

echo "== the control dialog over a hidden main window"
start_program "$exe" "$CAPTION"
echo "$CONTROLS" | expect_controls "$CAPTION" 261 145
expect_driver 0 expect "$CAPTION" 1005 IDLE 5000
expect_driver 0 set "$CAPTION" 1003 office
[ "$(driver get "$CAPTION" 1003 | tr -d '\r')" = office ] || fail "the name field does not keep its text"
expect_driver 0 set "$CAPTION" 1003 ""
connect=$(driver controls "$CAPTION" | tr -d '\r' | awk '$1 == 1000 { print $3, $4, $5, $6 }')
[ "$(driver rect "$CAPTION" 1000 | tr -d '\r')" = "$connect" ] || fail "rect and controls disagree on Connect"
expect_driver 4 visible "class=$CLASS"
save_screenshot "$CAPTION" "$PROGRAM-dialog"

echo "== command 104 opens the About box; OK, Escape and the close box end it"
open_about
echo "$ABOUT" | expect_controls About 230 75
expect_driver 4 visible "class=$CLASS"
save_screenshot About "$PROGRAM-about"
expect_driver 0 press About -1
sleep 0.5
expect_driver 0 visible About
expect_driver 0 press About 1
expect_driver 0 gone About 5000
open_about
expect_driver 0 key About escape
expect_driver 0 gone About 5000
open_about
expect_driver 0 close About
expect_driver 0 gone About 5000
expect_driver 0 visible "$CAPTION"
expect_driver 4 visible "class=$CLASS"

echo "== Cancel ends the program with exit code 0"
expect_driver 0 press "$CAPTION" 2
expect_exit 0 10
expect_driver 1 find "$CAPTION"

echo "== Escape ends it with 0"
start_program "$exe" "$CAPTION"
expect_driver 0 key "$CAPTION" escape
expect_exit 0 10

echo "== the close box ends it with 0"
start_program "$exe" "$CAPTION"
expect_driver 0 close "$CAPTION"
expect_exit 0 10

echo "== command 105 destroys the main window and ends the program with 0"
start_program "$exe" "$CAPTION"
expect_driver 0 command "$CLASS" 105
expect_exit 0 10
expect_driver 1 find "class=$CLASS"
echo "OK $PROGRAM windows"
