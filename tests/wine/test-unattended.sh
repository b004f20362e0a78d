# The server that starts with Windows, installed by its installer (silent, /UNATTENDED)
# into a folder whose path has blanks and an "&": a password file that /seal refuses
# (nothing installed); a data folder that another user made beforehand, open to
# everyone, moved aside and made anew; the task's definition as the installer hands
# it to schtasks, registered through Wine's schtasks (which keeps no trigger or
# action, and runs nothing: the schtasks double records that the installer asked for
# /Run) and deleted again; the sealed name and password; server.exe /auto started as
# the task starts it, with its log and its unamepass closed to other users; a start
# from the Start menu while it runs, answered No and Yes; server.exe /stop; the
# one-server lock squatted by another user; a damaged and a missing sealed file; a
# second install without the option; a UTF-16 password file; a reinstall while it
# runs, which runs the task again; a reinstall whose seal fails, which keeps the
# earlier one; the uninstaller, which ends the running unattended server and leaves
# no task, file or process; and the installer's page for it, interactively.
set -euo pipefail
. "$WINE_TESTS/whole-program.sh"
scratch_dir
cd "$SCRATCH"
SETUP=$WINE_KITS/punchvpn-server-setup.exe
FOLDER='C:\Program Files\punch & vpn server'
DIR=$(wine_unix_path "$FOLDER")
PROGRAM="$FOLDER\\server.exe"
DATA=$(wine_unix_path 'C:\ProgramData\punchvpn server')
TASK_FILE=$WINEPREFIX/drive_c/windows/system32/tasks/punchvpn\ server
CAPTION=$SERVER_CAPTION
# NSIS takes the install folder from the end of its command line as it stands, "/D=C:\A
# B" without quotes; Wine would quote an argument with a blank in it, so the folder
# goes in words, which Wine joins with blanks.
read -ra IN_FOLDER <<<"/D=$FOLDER"

# The log's texts without their times; fails unless each line begins with one.
logged() {
    tr -d '\r' <"$DATA/unattended.log" | while IFS= read -r line; do
        [[ $line =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}\ (.*)$ ]] ||
            fail "a log line without its time: $line"
        echo "${BASH_REMATCH[1]}"
    done
}

# Starts server.exe /auto in the install folder, as the task does; sets AUTO_PID.
start_auto() {
    (cd "$DIR" && exec wine "$PROGRAM" /auto) &
    AUTO_PID=$!
    x_window_wait 60000 "^$CAPTION\$" >/dev/null || fail "no window from server.exe /auto"
    expect_driver 0 expect "$CAPTION" $STATUS_LINE "$CENTRAL_TIMEOUT" 20000
}

# Starts server.exe as its shortcut does, while the unattended one runs, and waits for
# its question.
start_from_menu() {
    (cd "$DIR" && exec wine "$PROGRAM") &
    PROGRAM_PID=$!
    x_window_wait 60000 "^$RUNNING_SERVER_BOX\$" >/dev/null || fail "no question from the second start"
    [[ $(driver get "$RUNNING_SERVER_BOX" 65535 | tr -d '\r') == *"already running"*"Stop it and continue here?"* ]] ||
        fail "the question: $(driver get "$RUNNING_SERVER_BOX" 65535)"
}

# The unattended server AUTO_PID ends with exit code 0 within 15 s.
expect_auto_ended() {
    local status=0
    busywait 15000 eval '! kill -0 "$AUTO_PID" 2>/dev/null' || fail "the unattended server runs on"
    wait "$AUTO_PID" || status=$?
    [ "$status" = 0 ] || fail "the unattended server exited with $status"
}

# server.exe /auto ends with exit code 2 and one more log line, and shows no window.
expect_auto_refused() {
    local lines; lines=$(logged | wc -l)
    (cd "$DIR" && exec wine "$PROGRAM" /auto) &
    PROGRAM_PID=$!
    while kill -0 "$PROGRAM_PID" 2>/dev/null; do
        x_windows "^($CAPTION|$RUNNING_SERVER_BOX)\$" >/dev/null && fail "a window appeared"
        sleep 0.05
    done
    expect_exit 2 30
    [ "$(logged | wc -l)" = $((lines + 1)) ] || fail "not one log line: $(logged | tail -n 2)"
    [[ $(logged | tail -n 1) == "cannot read the name and password in C:\\ProgramData\\punchvpn server\\credentials.sealed"* ]] ||
        fail "the log line: $(logged | tail -n 1)"
}

# The schtasks calls recorded since the last look, which forgets every call.
schtasks_calls() { grep '^schtasks ' "$CALLS_LOG" 2>/dev/null; : >"$CALLS_LOG"; }
REGISTERED='schtasks /Create /TN punchvpn server /XML C:\ProgramData\punchvpn server\task.xml /F
schtasks /Run /TN punchvpn server'

nothing_left() { [ ! -e "$DIR" ] && [ ! -e "$DATA" ] && [ ! -e "$TASK_FILE" ]; }
left_behind() {
    ls -dA "$DIR" "$DIR"/* "$DATA" "$TASK_FILE" 2>/dev/null | tr '\n' ' '
    local pid
    for pid in $(pgrep -f '\.exe'); do
        tr '\0' '\n' 2>/dev/null </proc/$pid/environ | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
            echo "[$pid $(tr '\0' ' ' 2>/dev/null </proc/$pid/cmdline) in $(readlink /proc/$pid/cwd)]"
    done | tr '\n' ' '
}

echo "== silent with /UNATTENDED but without a password file: nothing installed, exit code 2"
code=0
wine "$SETUP" /S /UNATTENDED /NAME=office "${IN_FOLDER[@]}" || code=$?
[ "$code" = 2 ] || fail "the installer exited with $code"
nothing_left || fail "something was installed"

echo "== a password of 19 characters in the file: /seal refuses it, nothing installed, exit code 2"
printf '%s\r\n' 1234567890123456789 >"$(wine_unix_path 'C:\password.txt')"
code=0
wine "$SETUP" /S /UNATTENDED /NAME=office '/PASSWORDFILE=C:\password.txt' "${IN_FOLDER[@]}" || code=$?
[ "$code" = 2 ] || fail "the installer exited with $code"
nothing_left || fail "something was installed: $(left_behind)"

echo "== a data folder that another user made beforehand, open to everyone, with a file to be moved over"
mkdir -p "$DATA"
printf 'planted' >"$DATA/credentials.sealed.new"
printf 'planted' >"$DATA/task.xml"
chmod 777 "$DATA"
chmod 666 "$DATA"/*
chown -R 1234 "$DATA" # Wine shows another Unix user's files as Anonymous's

echo "== silent with the option: the task from its definition, the name and password sealed"
printf 'secret\r\nsecond line\r\n' >"$(wine_unix_path 'C:\password.txt')"
: >"$CALLS_LOG"
wine "$SETUP" /S /UNATTENDED "/NAME=my office" '/PASSWORDFILE=C:\password.txt' "${IN_FOLDER[@]}" ||
    fail "the installer failed"
[ -f "$DIR/server.exe" ] || fail "no server.exe in $DIR"
/usr/bin/python3 "$WINE_TESTS/check-task.py" "$DATA/task.xml" "$FOLDER" || fail "the task's definition"
[ -f "$TASK_FILE" ] || fail "schtasks registered no task"
iconv -f utf-16 -t utf-8 "$TASK_FILE" 2>/dev/null | grep -q '<ExecutionTimeLimit>PT0S<' ||
    grep -q '<ExecutionTimeLimit>PT0S<' "$TASK_FILE" || fail "Wine's schtasks did not take the definition"
called=$(schtasks_calls)
[ "$called" = "$REGISTERED" ] || fail "not registered, then run: $called"
[ -s "$DATA/credentials.sealed" ] || fail "no sealed file"
! grep -qa -e secret -e 'my office' "$DATA/credentials.sealed" || fail "the sealed file shows them"
# The other user's folder is aside with what they put there; the new one is closed.
[ "$(cat "$DATA (moved aside)/credentials.sealed.new")" = planted ] || fail "the planted folder is not aside"
[ "$(stat -c %u "$DATA")" = 0 ] || fail "the data folder is still the other user's"
expect_closed 'C:\ProgramData\punchvpn server'
expect_closed 'C:\ProgramData\punchvpn server\credentials.sealed'
expect_unchangeable 'C:\ProgramData\punchvpn server\task.xml'
grep -q 'moved aside' <<<"$(logged)" || fail "the log does not say that the folder was moved aside"
expect_closed "$FOLDER\\server.key"
expect_closed "$FOLDER\\tls-crypt.key"

echo "== server.exe /auto as the task starts it: fills Name and Password, connects, logs"
start_auto
[ "$(driver get "$CAPTION" $NAME_FIELD | tr -d '\r')" = "my office" ] || fail "the name field"
[ "$(driver get "$CAPTION" $PASSWORD_FIELD | tr -d '\r')" = secret ] || fail "the password field"
expect_bytes "$DIR/unamepass" 'my office secret\r\n'
expect_closed "$FOLDER\\unamepass"
[ "$(logged | grep -v 'moved aside' | tr '\n' '|')" = "started unattended (server.exe /auto)|$IDLE|$REPORT_TO_CENTRAL|$CENTRAL_TIMEOUT|" ] ||
    fail "the log: $(logged | tr '\n' '|')"
save_screenshot "$CAPTION" server-unattended
expect_calls 1 5

echo "== a start from the Start menu while it runs, answered No: it ends, the other runs on"
start_from_menu
save_screenshot "$RUNNING_SERVER_BOX" server-already-running
expect_driver 0 press "$RUNNING_SERVER_BOX" $IDNO
expect_exit 0 15
kill -0 "$AUTO_PID" || fail "the unattended server ended"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$CENTRAL_TIMEOUT" 5000
expect_calls 1 1

echo "== answered Yes: the unattended one ends as on Cancel, this one starts as always"
start_from_menu
expect_driver 0 press "$RUNNING_SERVER_BOX" $IDYES
expect_auto_ended
[ "$(logged | tail -n 1)" = "asked to stop; ends as on Cancel" ] || fail "the log ends: $(logged | tail -n 1)"
x_window_wait 60000 "^$CAPTION\$" >/dev/null || fail "no window from the start from the menu"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$IDLE" 10000
[ -z "$(driver get "$CAPTION" $NAME_FIELD | tr -d '\r')" ] || fail "the name was filled in"
expect_calls 3 5 # the unattended one's start and end, this one's start-up
expect_driver 0 press "$CAPTION" $IDCANCEL
expect_exit 0 10
[ "$(logged | tail -n 1)" = "asked to stop; ends as on Cancel" ] || fail "the interactive server logged"

echo "== server.exe /stop ends it as on Cancel and waits for it"
start_auto
(cd "$DIR" && wine "$PROGRAM" /stop) || fail "server.exe /stop failed"
# It returned once the server had let go of its mutex, which it does as it ends.
[ "$(logged | tail -n 1)" = "asked to stop; ends as on Cancel" ] || fail "the log ends: $(logged | tail -n 1)"
expect_auto_ended
(cd "$DIR" && wine "$PROGRAM" /stop) || fail "server.exe /stop failed with no server running"

echo "== the lock squatted by another user: the server starts all the same, their stop event does nothing"
wine "$WINDOWS_BUILD/tests/wine/squatter.exe" 10 60 >squatter.out &
SQUATTER_PID=$!
defer end_pid "$SQUATTER_PID"
busywait 30000 grep -q ready squatter.out || fail "the squatter did not start: $(cat squatter.out)"
start_auto
busywait 30000 grep -q set squatter.out || fail "the squatter did not set its event"
sleep 3
kill -0 "$AUTO_PID" 2>/dev/null || fail "the squatter's event stopped the server"
expect_driver 0 expect "$CAPTION" $STATUS_LINE "$CENTRAL_TIMEOUT" 20000
grep -q 'made by another user' <<<"$(logged)" || fail "the server did not see the squat: $(logged | tail -n 3)"
# Wine has no private namespaces: the server does without the squatted names there,
# so /stop cannot reach it, and says so rather than "none runs"; on Windows the lock
# lives in its private namespace.
status=0
(cd "$DIR" && exec wine "$PROGRAM" /stop) || status=$?
[ "$status" = 1 ] || fail "/stop ended with $status while the squat hides the running server"
kill -0 "$AUTO_PID" 2>/dev/null || fail "the server ended"
expect_driver 0 press "$CAPTION" $IDCANCEL
expect_auto_ended
kill "$SQUATTER_PID" 2>/dev/null

echo "== a damaged sealed file, then a missing one: one log line, exit code 2, nothing else"
cp "$DATA/credentials.sealed" sealed
printf 'X' | dd of="$DATA/credentials.sealed" bs=1 seek=40 conv=notrunc 2>/dev/null
: >"$CALLS_LOG"
expect_auto_refused
rm "$DATA/credentials.sealed"
expect_auto_refused
expect_calls 0 1
cp sealed "$DATA/credentials.sealed"

echo "== installed again without the option while it runs: stopped, no task, no data folder"
start_auto
wine "$SETUP" /S "${IN_FOLDER[@]}" || fail "the installer failed"
expect_auto_ended
[ -f "$DIR/server.exe" ] || fail "no server.exe"
[ ! -e "$TASK_FILE" ] && [ ! -e "$DATA" ] || fail "the task or the data folder is left"

echo "== installed with the option once more, the password in UTF-16 with a byte-order mark (PowerShell's \">\")"
PASSWORD16=$(wine_unix_path 'C:\password16.txt')
printf '\xff\xfe' >"$PASSWORD16"
printf 'utf16 secret\r\n' | iconv -f utf-8 -t utf-16le >>"$PASSWORD16"
wine "$SETUP" /S /UNATTENDED /NAME=office '/PASSWORDFILE=C:\password16.txt' "${IN_FOLDER[@]}" ||
    fail "the installer failed"
[ -f "$TASK_FILE" ] || fail "no task"
start_auto
[ "$(driver get "$CAPTION" $PASSWORD_FIELD | tr -d '\r')" = "utf16 secret" ] || fail "the password field"

echo "== installed again while it runs: stopped, registered anew, the task run again"
schtasks_calls >/dev/null
wine "$SETUP" /S /UNATTENDED /NAME=office '/PASSWORDFILE=C:\password16.txt' "${IN_FOLDER[@]}" ||
    fail "the installer failed"
expect_auto_ended
called=$(schtasks_calls)
[ "$called" = "schtasks /Change /TN punchvpn server /DISABLE
$REGISTERED" ] || fail "the task was not registered and run again: $called"
start_auto # as the task's run starts it: Wine's schtasks runs none

echo "== installed again with a seal that fails: the earlier name, password and task kept, exit code 2"
cp "$DATA/credentials.sealed" sealed
mkdir "$DATA/credentials.sealed.new" # where the fresh sealed file goes: writing it fails
code=0
wine "$SETUP" /S /UNATTENDED /NAME=other '/PASSWORDFILE=C:\password.txt' "${IN_FOLDER[@]}" || code=$?
[ "$code" = 2 ] || fail "the installer exited with $code"
expect_auto_ended
rmdir "$DATA/credentials.sealed.new"
cmp -s sealed "$DATA/credentials.sealed" || fail "the earlier sealed file changed"
[ -f "$TASK_FILE" ] || fail "the earlier task is gone"
called=$(schtasks_calls)
[ "$called" = 'schtasks /Change /TN punchvpn server /DISABLE
schtasks /Change /TN punchvpn server /ENABLE
schtasks /Run /TN punchvpn server' ] || fail "the earlier task was not enabled and run again: $called"
start_auto
[ "$(driver get "$CAPTION" $NAME_FIELD | tr -d '\r')" = office ] || fail "the name field"

echo "== the uninstaller ends the running server, leaves nothing"
wine "$DIR/uninstall.exe" /S || fail "the uninstaller failed"
expect_auto_ended
busywait 30000 nothing_left || fail "left behind: $(left_behind)"
echo "== interactively: ticked without a name it asks for one; with both, the server starts with Windows"
WINDOW="punchvpn server Setup"
PAGE="$WINDOW: Start with Windows"
# The page's controls as nsDialogs numbers them, in the order the installer makes them.
BOX=1200 NAME_BOX_FIELD=1203 PASSWORD_BOX_FIELD=1205
FOLDER='C:\Program Files\punchvpn server' DIR=$(wine_unix_path 'C:\Program Files\punchvpn server')
PROGRAM="$FOLDER\\server.exe"
rm -rf "$DIR" # what other tests of the run installed and wrote there
wine "$SETUP" &
PROGRAM_PID=$!
x_window_wait 60000 "^$WINDOW: Installation Folder\$" >/dev/null || fail "no installer"
expect_driver 0 expect "$WINDOW: Installation Folder" 1 "&Next >" 10000
expect_driver 0 press "$WINDOW: Installation Folder" 1
x_window_wait 30000 "^$PAGE\$" >/dev/null || fail "no page \"Start with Windows\""
[ "$(driver get "$PAGE" $BOX | tr -d '\r')" = "Start the server when Windows starts" ] || fail "the box"
expect_driver 0 click "$PAGE" $BOX
expect_driver 0 press "$PAGE" 1
x_window_wait 30000 "^$WINDOW\$" >/dev/null || fail "no message for the missing name"
[[ $(driver get "$WINDOW" 65535) == *"needs a name and a password"* ]] || fail "the message: $(driver get "$WINDOW" 65535)"
expect_driver 0 press "$WINDOW" 1
expect_driver 0 set "$PAGE" $NAME_BOX_FIELD "home"
expect_driver 0 set "$PAGE" $PASSWORD_BOX_FIELD "typed pass"
save_screenshot "$PAGE" installer-start-with-windows
expect_driver 0 press "$PAGE" 1
x_window_wait 60000 "^$WINDOW: Completed\$" >/dev/null || fail "the installation did not complete"
expect_driver 0 press "$WINDOW: Completed" 1
expect_exit 0 30
/usr/bin/python3 "$WINE_TESTS/check-task.py" "$DATA/task.xml" "$FOLDER" || fail "the task's definition"
[ -f "$TASK_FILE" ] || fail "no task"
start_auto
[ "$(driver get "$CAPTION" $NAME_FIELD | tr -d '\r')" = home ] || fail "the name field"
[ "$(driver get "$CAPTION" $PASSWORD_FIELD | tr -d '\r')" = "typed pass" ] || fail "the password field"
wine "$DIR/uninstall.exe" /S || fail "the uninstaller failed"
expect_auto_ended
busywait 30000 nothing_left || fail "left behind: $(left_behind)"
echo "OK unattended"
