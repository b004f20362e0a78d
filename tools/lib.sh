# The shell library of the Wine tests, the NAT lab, the comparison and the benchmarks
# (source it from bash). It lives in tools/ because it serves tests/wine and lab/ alike:
#
#   busywait TIMEOUT_MS CMD...   runs CMD every 0.1 s until it succeeds; 1 after TIMEOUT_MS
#   check NAME CMD...            runs CMD, prints PASS or FAIL with NAME and counts it
#   defer CMD...                 pushes CMD onto the cleanup stack, which one trap runs in
#                                reverse on exit, Ctrl-C or TERM; end_pid PID... for it
#   scratch_dir                  a fresh directory under /tmp (SCRATCH), removed on exit
#   netns_private CMD...         CMD in a network namespace of its own, with lo up
#   netns_holder                 a process in a network namespace of its own (NETNS_PID)
#   xvfb_start [SCREEN]          a private X display (DISPLAY, XVFB_PID); xvfb_stop PID
#   x_windows [--onlyvisible] REGEX   ids of the X windows so titled (0 some, 1 none,
#                                2 xdotool could not tell); x_window_wait TIMEOUT_MS
#                                REGEX waits for a shown one, x_window_gone REGEX for none
#   wine_env                     the environment of every Wine command
#   wine_boot DIR                a fresh Wine prefix in DIR; wine_prefix_dress readies it
#                                for screenshots; wine_prefix_make DIR does both

LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
LIB_REPO=$(cd "$LIB_DIR/.." && pwd)
# The dialogs' control ids and status texts.
. "$LIB_DIR/dialog.sh"

# --- waiting and checking ------------------------------------------------------------

busywait() {
    local timeout_ms=$1 start now
    shift
    start=$(date +%s%3N)
    until "$@"; do
        now=$(date +%s%3N)
        [ $((now - start)) -lt "$timeout_ms" ] || return 1
        sleep 0.1
    done
}

CHECK_PASSED=0 CHECK_FAILED=0
check() {
    local name=$1
    shift
    if "$@"; then
        echo "    PASS  $name"
        CHECK_PASSED=$((CHECK_PASSED + 1))
    else
        echo "    FAIL  $name"
        CHECK_FAILED=$((CHECK_FAILED + 1))
        return 1
    fi
}

# --- the cleanup stack -----------------------------------------------------------------

DEFERRED=()
defer() { DEFERRED+=("$(printf '%q ' "$@")"); }

# Runs the stack, last pushed first, each step whatever became of the one before.
run_deferred() {
    local i
    set +e
    for ((i = ${#DEFERRED[@]} - 1; i >= 0; i--)); do eval "${DEFERRED[i]}"; done
    DEFERRED=()
}
trap run_deferred EXIT
trap 'echo "$(basename "$0"): interrupted" >&2; exit 130' INT
trap 'exit 143' TERM

# Ends background processes that may have ended already.
end_pid() { kill "$@" 2>/dev/null; true; }

scratch_dir() {
    SCRATCH=$(mktemp -d /tmp/punchvpn-XXXXXX)
    defer rm -rf "$SCRATCH"
}

# --- network namespaces ----------------------------------------------------------------

netns_private() { unshare --net sh -c 'ip link set lo up && exec "$@"' netns_private "$@"; }

# A process that holds a network namespace of its own until the cleanup stack ends it.
netns_holder() {
    unshare --net sleep infinity &
    NETNS_PID=$!
    defer end_pid "$NETNS_PID"
    busywait 5000 _netns_apart "$NETNS_PID"
}
_netns_apart() { [ "$(readlink "/proc/$1/ns/net")" != "$(readlink /proc/self/ns/net)" ]; }

# --- X and Wine ------------------------------------------------------------------------

# Starts Xvfb on the first free display; sets XVFB_PID and exports DISPLAY.
xvfb_start() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "${1:-1024x768x24}" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    busywait 10000 test -e "/tmp/.X11-unix/X$n" || { echo "Xvfb :$n did not start" >&2; return 1; }
}
xvfb_stop() { kill "$1" 2>/dev/null && wait "$1" 2>/dev/null; true; }

# xdotool's search stops with an X error (BadWindow) when a window goes away while it
# looks, and now and then cannot open the display while clients come and go; Wine makes
# and drops windows as it starts a program, so a single "search --sync" failed at once
# now and then. Such a search says nothing about the window: x_windows returns 2 for it,
# and the waits below look again.
x_windows() {
    local out
    out=$(xdotool search "${@:1:$#-1}" --name "${!#}" 2>&1) && { grep -E '^[0-9]+$' <<<"$out"; return 0; }
    [ -z "$out" ] && return 1
    return 2
}
x_window_wait() {
    local timeout_ms=$1 regex=$2 start ids
    start=$(date +%s%3N)
    until ids=$(x_windows --onlyvisible "$regex"); do
        [ $(($(date +%s%3N) - start)) -lt "$timeout_ms" ] || return 1
        sleep 0.1
    done
    echo "${ids%%$'\n'*}"
}
x_window_gone() { local rc=0; x_windows "$1" >/dev/null || rc=$?; [ "$rc" -eq 1 ]; }

# No debug output, no Mono or Gecko, no menu entries or icons on the host for
# shortcuts made in a prefix, and the netsh.exe in system32 (a double, where there is
# one) taken before Wine's own.
wine_env() { export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;netsh.exe=n,b"; }

# A fresh prefix in DIR, its wineserver ended again and that server's socket folder
# removed (a prefix kept for copying, like the lab's template, left it in /tmp for good).
wine_boot() {
    mkdir -p "$1" || return 1
    WINEPREFIX=$1 wineboot -i >/dev/null 2>&1
    WINEPREFIX=$1 wineserver -w || return 1
    wine_server_dir_remove "$1"
}

# Readies the prefix WINEPREFIX for screenshots of what a user sees. Without a window
# manager on the private display, Wine draws the caption and frame itself; and this
# Wine does not find its own fonts (Marlett for the caption buttons, MS Sans Serif and
# System for the dialogs): it loads those in the prefix's font folder.
wine_prefix_dress() {
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
    wineserver -w
}

# A fresh, readied prefix in DIR; exports WINEPREFIX for it.
wine_prefix_make() {
    wine_env
    export WINEPREFIX=$1
    wine_boot "$1" && wine_prefix_dress
}

# Stops the wineserver of WINEPREFIX (and so every Wine process of that prefix).
wine_prefix_stop() {
    wineserver -k 2>/dev/null
    wine_server_dir_remove "$WINEPREFIX"
}

# Removes the socket directory that a wineserver of prefix DIR leaves behind in /tmp
# (/tmp/wine-XXXXXX/server-DEVICE-INODE, the prefix's device and inode in hex) once
# that server has ended.
wine_server_dir_remove() {
    local tag dir
    tag=server-$(stat -c %D "$1" 2>/dev/null)-$(printf %x "$(stat -c %i "$1" 2>/dev/null || echo 0)")
    WINEPREFIX=$1 timeout 10 wineserver -w 2>/dev/null
    for dir in /tmp/wine-*/"$tag"; do
        [ -d "$dir" ] || continue
        rm -rf "$dir"
        rmdir "${dir%/*}" 2>/dev/null
    done
    true
}

# --- Windows as users have it, in the prefix WINEPREFIX ------------------------------
# The programs find each command where Windows keeps it: tskill, taskkill and netsh in
# system32, OpenVPN where its own installer puts it (not on the PATH). Doubles stand
# there, never beside the programs, so that a test cannot pass where a real Windows
# would not find the command.

# The Unix path of a path on drive C: of the prefix (C:\A\B -> $WINEPREFIX/drive_c/A/B).
wine_unix_path() {
    local rest=${1#[Cc]:}
    rest=${rest//\\//}
    echo "$WINEPREFIX/drive_c$rest"
}

# wine_system_doubles DOUBLE NAME...: system32\NAME.exe is DOUBLE (a link; Wine's own
# program of that name goes).
wine_system_doubles() {
    local double=$1 name system32=$WINEPREFIX/drive_c/windows/system32
    shift
    for name in "$@"; do ln -sfn "$double" "$system32/$name.exe" || return 1; done
}

# wine_openvpn_install DOUBLE [FOLDER]: OpenVPN for Windows as its installer lays it
# out: FOLDER (default C:\Program Files\OpenVPN) with license.txt and bin\openvpn.exe
# (a link to DOUBLE), and its folders in HKLM\SOFTWARE\OpenVPN (64-bit view).
WINE_OPENVPN_FOLDER='C:\Program Files\OpenVPN'
wine_openvpn_install() {
    local double=$1 folder=${2:-$WINE_OPENVPN_FOLDER} unix reg
    unix=$(wine_unix_path "$folder")
    mkdir -p "$unix/bin" "$unix/config" &&
        echo "OpenVPN (stand-in: $double)" >"$unix/license.txt" &&
        ln -sfn "$double" "$unix/bin/openvpn.exe" || return 1
    reg=$(mktemp --suffix=.reg) || return 1
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OpenVPN]\r\n"exe_path"="%s\\\\bin\\\\openvpn.exe"\r\n"bin_dir"="%s\\\\bin\\\\"\r\n"config_dir"="%s\\\\config\\\\"\r\n' \
        "${folder//\\/\\\\}" "${folder//\\/\\\\}" "${folder//\\/\\\\}" >"$reg"
    wine reg import "Z:${reg//\//\\}" /reg:64 >/dev/null 2>&1
    local rc=$?
    rm -f "$reg"
    return $rc
}

# wine_openvpn_uninstall [FOLDER]: no OpenVPN there, and none in the registry.
wine_openvpn_uninstall() {
    rm -rf "$(wine_unix_path "${1:-$WINE_OPENVPN_FOLDER}")"
    wine reg delete 'HKLM\SOFTWARE\OpenVPN' /f /reg:64 >/dev/null 2>&1
    true
}
