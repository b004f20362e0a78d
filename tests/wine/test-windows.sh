# The real client.exe and server.exe: each one's control dialog, hidden main window,
# About box and the ways to end it.
set -euo pipefail
. "$WINE_TESTS/whole-program.sh"

open_about() {
    expect_driver 0 command "$CLASS" $COMMAND_ABOUT
    expect_driver 0 wait About 5000
}

# check_windows PROGRAM CAPTION CLASS STATUS HEARTBEAT ABOUT_NAME: the places of the
# status line and the heartbeat field in dialog units, and the name in the About box,
# differ between the programs; the other controls stand alike in both.
check_windows() {
    local program=$1 exe connect
    CAPTION=$2 CLASS=$3
    install_program "$program"
    exe=$PROGRAM
    local CONTROLS="1000 Button 204 7 50 14 Connect
1001 Button 204 28 50 14 Disconnect
2 Button 204 53 50 14 Cancel
-1 Static 32 32 20 10 Name
1003 Edit 57 31 88 12
-1 Static 21 56 33 10 Password
1004 Edit 57 55 87 12
1005 Static $4 IDLE
1006 Static $5"
    local ABOUT="2 Static 14 9 - - *
-1 Static 49 10 119 8 $6 Version 1.0
-1 Static 49 20 119 8 *
1 Button 195 6 30 11 OK"
    echo "== $program: the control dialog over a hidden main window"
    start_program "$exe" "$CAPTION"
    echo "$CONTROLS" | expect_controls "$CAPTION" 261 145
    expect_driver 0 expect "$CAPTION" $STATUS_LINE "$IDLE" 5000
    expect_driver 0 set "$CAPTION" $NAME_FIELD office
    [ "$(driver get "$CAPTION" $NAME_FIELD | tr -d '\r')" = office ] || fail "the name field does not keep its text"
    expect_driver 0 set "$CAPTION" $NAME_FIELD ""
    connect=$(driver controls "$CAPTION" | tr -d '\r' | awk -v id=$CONNECT_BUTTON '$1 == id { print $3, $4, $5, $6 }')
    [ "$(driver rect "$CAPTION" $CONNECT_BUTTON | tr -d '\r')" = "$connect" ] || fail "rect and controls disagree on Connect"
    expect_driver 4 visible "class=$CLASS"
    save_screenshot "$CAPTION" "$program-dialog"

    echo "== $program: command $COMMAND_ABOUT opens the About box; OK, Escape and the close box end it"
    open_about
    echo "$ABOUT" | expect_controls About 230 75
    expect_driver 4 visible "class=$CLASS"
    save_screenshot About "$program-about"
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

    echo "== $program: Cancel ends the program with exit code 0"
    expect_driver 0 press "$CAPTION" $IDCANCEL
    expect_exit 0 10
    expect_driver 1 find "$CAPTION"

    echo "== $program: Escape ends it with 0"
    start_program "$exe" "$CAPTION"
    expect_driver 0 key "$CAPTION" escape
    expect_exit 0 10

    echo "== $program: the close box ends it with 0"
    start_program "$exe" "$CAPTION"
    expect_driver 0 close "$CAPTION"
    expect_exit 0 10

    echo "== $program: command $COMMAND_EXIT destroys the main window and ends the program with 0"
    start_program "$exe" "$CAPTION"
    expect_driver 0 command "$CLASS" $COMMAND_EXIT
    expect_exit 0 10
    expect_driver 1 find "class=$CLASS"
    echo "OK $program windows"
}

check_windows client "$CLIENT_CAPTION" CLIENT "56 102 134 15" "240 128 13 9" CLIENT
check_windows server "$SERVER_CAPTION" SERVER "56 102 125 16" "240 130 14 8" server
