# The two installers of an installation, made from this build with openvpn/make-kits,
# in a fresh Wine prefix of their own: installed silently, each puts its files into
# its folder under Program Files, lists itself among the installed programs and makes
# a Start-menu shortcut to the program with the install folder as working directory
# (the server's asks first whether it is to start when Windows starts: not here);
# the program started from that shortcut shows IDLE and writes into that folder; the
# silent uninstaller removes all of it and leaves the hosts file as it was. Each side
# adds its inbound firewall rules with netsh (deleted first, so that installing again
# makes no second one) and its uninstaller deletes them. Without OpenVPN, and where
# netsh fails, the interactive installer says so, then installs. The install folder
# has rights that let other users read and run but change nothing, the keys rights
# for the administrators only; a folder chosen that was open to everyone is closed
# before anything goes in, one that holds another's program or that another user
# made gets nothing (exit code 2).
set -euo pipefail
. "$WINE_TESTS/program.sh"
scratch_dir
scratch=$SCRATCH
cd "$scratch"
wine_prefix_make "$scratch/prefix"
defer wine_prefix_stop
wine_system_doubles "$WINE_TESTS/call-double" tskill taskkill
wine_system_doubles "$WINDOWS_BUILD/tests/wine/netsh.exe" netsh
C="$WINEPREFIX/drive_c"
HOSTS_FILE="$C/windows/system32/drivers/etc/hosts"

# The firewall rules each side's installer asks netsh for, and what its uninstaller deletes.
NETSH="netsh advfirewall firewall"
SERVER_RULES="$NETSH delete rule name=punchvpn server OpenVPN
$NETSH add rule name=punchvpn server OpenVPN dir=in action=allow protocol=UDP localport=1194
$NETSH delete rule name=punchvpn server file sharing
$NETSH add rule name=punchvpn server file sharing dir=in action=allow protocol=TCP localport=445 localip=10.8.0.1 remoteip=10.8.0.2
$NETSH delete rule name=punchvpn server probes
$NETSH add rule name=punchvpn server probes dir=in action=allow protocol=UDP localport=8080 localip=10.8.0.1 remoteip=10.8.0.2 program=C:\Program Files\punchvpn server\server.exe"
CLIENT_RULES="$NETSH delete rule name=punchvpn client probes
$NETSH add rule name=punchvpn client probes dir=in action=allow protocol=UDP localport=8080 localip=10.8.0.2 remoteip=10.8.0.1 program=C:\Program Files\punchvpn client\client.exe"
SERVER_REMOVAL=$(grep ' delete ' <<<"$SERVER_RULES")
CLIENT_REMOVAL=$(grep ' delete ' <<<"$CLIENT_RULES")
# The netsh lines of the side's kit text, as netsh gets their arguments.
kit_rules() {
    tr -d '\r"' <"$WINE_TESTS/../../openvpn/kit-$1.txt" | sed -n 's/^ *\(netsh advfirewall firewall add rule .*\)/\1/p'
}
# The calls recorded since the last look, which forgets them.
new_calls() { cat "$CALLS_LOG" 2>/dev/null; : >"$CALLS_LOG"; }

# The value of NAME in the side's entry among the installed programs.
uninstall_value() {
    wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\punchvpn-$1" /v "$2" 2>/dev/null |
        tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z]* *//p"
}

# The side's shortcut in the Start menu of all users.
shortcut() { echo "$C/ProgramData/Microsoft/Windows/Start Menu/Programs/punchvpn $1.lnk"; }

# Clicks button ID of window CAPTION once the button shows TEXT.
click_when() {
    busywait 30000 shows "$@" || true
    expect_driver 0 press "$1" "$2"
}
shows() { [ "$(driver get "$1" "$2" 2>/dev/null | tr -d '\r')" = "$3" ]; }

# check_installed SIDE EXE CAPTION TRACE FILES: installs the side silently and
# checks its files, its entry, its shortcut, and the program started from the
# shortcut, which must write TRACE into the install folder on start-up.
check_installed() {
    local side=$1 exe=$2 caption=$3 trace=$4 files=$5
    local dir="$C/Program Files/punchvpn $side" windir="C:\\Program Files\\punchvpn $side"
    echo "== the $side installer, silent"
    new_calls >/dev/null
    wine "$WINE_KITS/punchvpn-$side-setup.exe" /S || fail "the $side installer failed"
    [ "$(cd "$dir" && ls | tr '\n' ' ')" = "$files" ] || fail "$dir holds: $(ls "$dir" | tr '\n' ' ')"
    cmp -s "$dir/$exe" "$WINDOWS_BUILD/$side/$exe" || fail "$exe is not the one built"
    cmp -s "$dir/$side.key" "$WINE_KEYS/$side.key" || fail "$side.key is not the installation's"
    expect_unchangeable "$windir"
    expect_closed "$windir\\$side.key"
    expect_closed "$windir\\tls-crypt.key"
    # The certificate is no secret: every user may read it, as any file in Program Files.
    [[ $(rights "$windir\\ca.crt") == *";WD)"* ]] || fail "ca.crt reads back closed: $(rights "$windir\\ca.crt")"
    local rules=${side^^}_RULES called
    called=$(new_calls)
    [ "$called" = "${!rules}" ] || fail "the $side installer's netsh calls differ from the rules: $called"
    # The kit's README.txt gives the same rules for those who install from the zip.
    [ "$(grep ' add rule ' <<<"$called" | sort)" = "$(kit_rules "$side" | sort)" ] ||
        fail "openvpn/kit-$side.txt gives other firewall rules than the installer adds"
    [ "$(uninstall_value "$side" DisplayName)" = "punchvpn $side" ] || fail "no entry among the installed programs"
    [ "$(uninstall_value "$side" QuietUninstallString)" = "\"$windir\\uninstall.exe\" /S" ] ||
        fail "no silent uninstaller: $(uninstall_value "$side" QuietUninstallString)"
    local link; link=$(shortcut "$side")
    [ -f "$link" ] || fail "no Start-menu shortcut $link"
    [ "$(/usr/bin/python3 "$WINE_TESTS/read-shortcut.py" "$link")" = "target=$windir\\$exe
workdir=$windir
arguments=" ] || fail "the shortcut: $(/usr/bin/python3 "$WINE_TESTS/read-shortcut.py" "$link")"

    echo "== $exe started from the shortcut"
    # As the shortcut says (checked above): its target, in its working directory. Wine's
    # "start" of the .lnk itself now and then started the target a second time, a second
    # after the first had ended, and that copy held its file when the uninstaller ran.
    (cd "$dir" && exec wine "$windir\\$exe") &
    PROGRAM_PID=$!
    x_window_wait 60000 "^$caption\$" >/dev/null || fail "no window \"$caption\""
    expect_driver 0 expect "$caption" $STATUS_LINE "$IDLE" 10000
    save_screenshot "$caption" "installed-$side"
    [ -e "$dir/$trace" ] || fail "$exe did not run in its install folder (no $trace there)"
    expect_driver 0 press "$caption" $IDCANCEL
    expect_exit 0 10
}

# Nothing of SIDE is left: its folder, its shortcut, its entry.
uninstalled() {
    [ ! -e "$C/Program Files/punchvpn $1" ] && [ ! -e "$(shortcut "$1")" ] &&
        [ -z "$(uninstall_value "$1" DisplayName)" ]
}

# check_uninstalled SIDE: the silent uninstaller leaves nothing of the side.
check_uninstalled() {
    local side=$1 dir="$C/Program Files/punchvpn $1"
    echo "== the $side uninstaller, silent"
    local hosts_before
    hosts_before=$(md5sum <"$HOSTS_FILE")
    new_calls >/dev/null
    wine "$dir/uninstall.exe" /S || fail "the $side uninstaller failed"
    # It runs on from a copy of itself, so that it can remove its own file.
    busywait 30000 uninstalled "$side" || true
    local removal=${side^^}_REMOVAL
    local removed; removed=$(new_calls)
    [ "$removed" = "${!removal}" ] || fail "the $side uninstaller did not delete its firewall rules: $removed"
    [ ! -e "$dir" ] || fail "left behind: $(ls -A "$dir" | tr '\n' ' ')"
    [ ! -e "$(shortcut "$side")" ] || fail "the shortcut is left"
    [ -z "$(uninstall_value "$side" DisplayName)" ] || fail "the entry among the installed programs is left"
    [ "$(md5sum <"$HOSTS_FILE")" = "$hosts_before" ] || fail "the hosts file changed"
}

# Waits for the message box of window CAPTION and fails unless its text matches PATTERN.
expect_message() {
    local caption=$1 pattern=$2 message
    expect_driver 0 wait "$caption" 30000
    message=$(driver get "$caption" 65535 | tr -d '\r')
    [[ $message == $pattern ]] || fail "the message says: $message"
}

echo "== without OpenVPN and with a failing netsh the installer says both, and installs on OK"
echo netsh >"$CALLS_LOG.failing"
wine "$WINE_KITS/punchvpn-server-setup.exe" &
PROGRAM_PID=$!
SETUP="punchvpn server Setup"
expect_message "$SETUP" "*OpenVPN is not installed*https://openvpn.net/community-downloads/*"
save_screenshot "$SETUP" installer-no-openvpn
click_when "$SETUP" 1 OK
click_when "$SETUP: Installation Folder" 1 "&Next >"
click_when "$SETUP: Start with Windows" 1 "&Install"
expect_message "$SETUP" "*firewall did not take these rules*punchvpn server OpenVPN*punchvpn server file sharing*punchvpn server probes*"
# The machine has no README: the message itself gives the lines that add the rules.
message=$(driver get "$SETUP" 65535 | tr -d '\r"')
while read -r rule; do
    [[ $message == *"$rule"* ]] || fail "the message does not give the line: $rule"
done < <(kit_rules server)
save_screenshot "$SETUP" installer-no-firewall
click_when "$SETUP" 1 OK
click_when "$SETUP: Completed" 1 "&Close"
expect_exit 0 30
rm "$CALLS_LOG.failing"
[ -f "$C/Program Files/punchvpn server/server.exe" ] || fail "the interactive install put no server.exe"
check_uninstalled server

echo "== OpenVPN in a folder of the user's choice, named in the registry: no message"
wine_openvpn_install "$WINE_TESTS/call-double" 'C:\Tools\OpenVPN'
wine "$WINE_KITS/punchvpn-client-setup.exe" &
PROGRAM_PID=$!
SETUP="punchvpn client Setup"
click_when "$SETUP: Installation Folder" 1 "&Install"
click_when "$SETUP: Completed" 1 "&Close"
expect_exit 0 30
check_uninstalled client
wine_openvpn_uninstall 'C:\Tools\OpenVPN'

wine_openvpn_install "$WINE_TESTS/call-double"

echo "== a folder of the user's choice, made open to everyone beforehand: closed, then installed"
CHOSEN='C:\Shared\punchvpn'
chosen_dir=$(wine_unix_path "$CHOSEN")
mkdir -p "$chosen_dir"
chmod 777 "$chosen_dir"
wine "$WINE_KITS/punchvpn-client-setup.exe" /S "/D=$CHOSEN" || fail "the installer failed"
expect_unchangeable "$CHOSEN"
expect_closed "$CHOSEN\\client.key"
[ -f "$chosen_dir/client.exe" ] || fail "no client.exe in $CHOSEN"
echo "== installed there again: the earlier installation's files are no obstacle"
wine "$WINE_KITS/punchvpn-client-setup.exe" /S "/D=$CHOSEN" || fail "the second installation failed"
wine "$chosen_dir/uninstall.exe" /S || fail "the uninstaller failed"
busywait 30000 eval '[ ! -e "$chosen_dir" ]' || fail "left behind: $(ls -A "$chosen_dir")"

echo "== a folder that holds another's program, or that another user made: nothing installed, exit code 2"
mkdir -p "$chosen_dir"
chmod 777 "$chosen_dir"
: >"$chosen_dir/tskill.exe"
code=0
wine "$WINE_KITS/punchvpn-server-setup.exe" /S "/D=$CHOSEN" || code=$?
[ "$code" = 2 ] || fail "the installer exited with $code"
[ "$(ls -A "$chosen_dir")" = tskill.exe ] || fail "installed beside tskill.exe: $(ls -A "$chosen_dir")"
rm -rf "$chosen_dir"
mkdir -p "$chosen_dir"
chown 1234 "$chosen_dir" # Wine shows another Unix user's folder as Anonymous's
code=0
wine "$WINE_KITS/punchvpn-client-setup.exe" /S "/D=$CHOSEN" || code=$?
[ "$code" = 2 ] || fail "the installer exited with $code for a folder of another user"
[ -z "$(ls -A "$chosen_dir")" ] || fail "installed into another user's folder: $(ls -A "$chosen_dir")"
rm -rf "$(wine_unix_path 'C:\Shared')"

check_installed client client.exe "$CLIENT_CAPTION" hosts \
    "ca.crt client.crt client.exe client.key client.ovpn remind.bat stop.exe tls-crypt.key uninstall.exe "
grep -q '^10\.8\.0\.1' "$HOSTS_FILE" || fail "the client did not add its hosts entry"
check_installed server server.exe "$SERVER_CAPTION" log \
    "ca.crt remind.bat server.crt server.exe server.key server.ovpn tls-crypt.key uninstall.exe "
check_uninstalled client
check_uninstalled server
grep -q '^10\.8\.0\.1' "$HOSTS_FILE" || fail "the uninstaller took the program's hosts entry"
echo "OK installers"
