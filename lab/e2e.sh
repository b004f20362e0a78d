# The real programs in the NAT lab, as a library of shell functions for the demo, the
# end-to-end tests and the benchmark (source it from bash after choosing LAB_ID).
# On top of lab.sh: central started in its host, server.exe and client.exe under Wine
# in their homes (each home with its own Wine prefix, wineserver and X display), the
# dialog driver, a watcher per dialog that logs every change of the status line with
# the wall time, and counters of the liveness probes that cross the tunnel.
#
#   e2e_setup                  build what is missing (watch.exe), nothing else
#   e2e_central_start / _stop  central on 192.0.2.10:3478, stopped by PID
#   e2e_home HOME              Windows in a home (lab_wine_home), display, probe counters,
#                              and in the server's home the stand-in for its file sharing
#   e2e_install HOME SIDE [OPTION...]   install a program with its installer
#   e2e_start HOME EXE CAPTION [NAME [ARGUMENT...]]   install a program (the first time),
#                              start it as its shortcut does, wait for its dialog, watch it
#   e2e_driver HOME ARGS...    the dialog driver in that home
#   e2e_mark NAME / e2e_wait NAME TEXT SECONDS [MARK]   status changes after a mark
#   e2e_wait_connected NAME SECONDS MARK                the connected text after a mark
#   e2e_reset_pair [SECONDS]   both Disconnect, routers' mappings flushed, server registered
#   e2e_hold NAME / e2e_release_in NAME SECONDS   a program held still, as a slow machine
#   e2e_cleanup                everything down (lab, displays), for traps

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$E2E_DIR/lab.sh"
E2E_WINDOWS=${E2E_WINDOWS:-$LAB_WINDOWS}
LAB_WINDOWS=$E2E_WINDOWS
E2E_NATIVE=${E2E_NATIVE:-$LAB_REPO/build/native}
E2E_TOOLS=$LAB_REPO/build/lab
E2E_DRIVER=$E2E_WINDOWS/tests/wine/driver.exe
declare -A E2E_DISPLAY=() E2E_XVFB=()
E2E_CENTRAL_PID=""

e2e_now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Builds the watcher (a small Windows program) when it is missing or older than its source.
e2e_setup() {
    mkdir -p "$E2E_TOOLS"
    if [ ! -x "$E2E_TOOLS/watch.exe" ] || [ "$E2E_DIR/tools/watch.c" -nt "$E2E_TOOLS/watch.exe" ]; then
        x86_64-w64-mingw32-gcc -O2 -o "$E2E_TOOLS/watch.exe" "$E2E_DIR/tools/watch.c" ||
            { lab_fail "cannot build watch.exe"; return 1; }
    fi
    local f
    for f in "$E2E_DRIVER" "$E2E_WINDOWS/client/client.exe" "$E2E_WINDOWS/server/server.exe" \
             "$E2E_NATIVE/central/central"; do
        [ -f "$f" ] || { lab_fail "missing $f (make windows, make native)"; return 1; }
    done
}

# central in its host, bound to its one address (so its answers leave from the address
# the requests went to). Extra options pass through.
# Each start logs to a file of its own: central.log, then central-2.log, ... (E2E_CENTRAL_LOG).
e2e_central_start() {
    local name=central n=1
    while [ -e "$LAB_RUN/central/$name.log" ]; do n=$((n + 1)); name=central-$n; done
    E2E_CENTRAL_LOG=$LAB_RUN/central/$name.log
    E2E_CENTRAL_PID=$(lab_spawn central "$name" "$E2E_NATIVE/central/central" \
        --bind "$(lab_addr central)" --port 3478 "$@")
    busywait 5000 _e2e_central_up
    kill -0 "$E2E_CENTRAL_PID" 2>/dev/null || { lab_fail "central did not start"; return 1; }
}
# central has logged its first line, or has ended.
_e2e_central_up() { grep -q . "$E2E_CENTRAL_LOG" 2>/dev/null || ! kill -0 "$E2E_CENTRAL_PID" 2>/dev/null; }
e2e_central_stop() {
    [ -n "$E2E_CENTRAL_PID" ] && lab_stop_pid "$E2E_CENTRAL_PID"
    E2E_CENTRAL_PID=""
}

# Starts an Xvfb display of its own, by PID; sets E2E_DISPLAY[HOME].
_e2e_display() {
    xvfb_start 640x480x24 || return 1
    E2E_XVFB[$1]=$XVFB_PID
    E2E_DISPLAY[$1]=$DISPLAY
}

# A home ready for a program: its Wine prefix laid out as Windows (lab_wine_home; with
# Wine's own fonts and Wine-drawn window frames, so that screenshots show what a user
# sees), its own X display, its wineserver running inside the home, counters of the
# probes that arrive through the tunnel (UDP 8080 on tun0, counted before the home's
# firewall looks at them), and in the server's home a listener on TCP 445 that stands
# for Windows' file sharing and logs each connection to share.log.
declare -A E2E_WORK=()
e2e_home() {
    local home=$1
    lab_wine_home "$home" || return 1
    _e2e_display "$home" || return 1
    # The prefix readied for screenshots by the first Wine process of the home. Its
    # wineserver then ends, and takes a while to wind its desktop down: a program started
    # meanwhile had its window searched for among windows that were going away, and the
    # search failed now and then; so this waits for that end.
    e2e_wine "$home" bash -c '. "$0" && wine_prefix_dress' "$LIB_DIR/lib.sh"
    ip netns exec "$(lab_ns "$home")" iptables -w -I INPUT 1 -i tun0 -p udp --dport 8080
    if [ "$home" = home-server ]; then
        lab_spawn "$home" share "$LAB_PY" "$E2E_DIR/tools/share.py" "$LAB_RUN/$home/share.log" >/dev/null
    fi
}

# Runs a Wine command in a home, from its working directory (the install folder of the
# program started last, else drive C:), on its display.
e2e_wine() {
    local home=$1; shift
    (cd "${E2E_WORK[$home]:-$LAB_RUN/$home/prefix/drive_c}" && DISPLAY=${E2E_DISPLAY[$home]} lab_wine "$home" "$@")
}

# Adds a counter of the probes arriving in HOME through the tunnel that carry TEXT.
e2e_count_probes_with() {
    ip netns exec "$(lab_ns "$1")" iptables -w -I INPUT 1 -i tun0 -p udp --dport 8080 \
        -m string --algo bm --string "$2"
}
# Probes that arrived in HOME through the tunnel: all of them, or those with TEXT.
e2e_probes() {
    local home=$1 text=${2:-}
    ip netns exec "$(lab_ns "$home")" iptables -w -L INPUT -v -n -x |
        awk -v t="$text" '$0 ~ /dpt:8080/ && $0 ~ /tun0/ {
            m = index($0, "STRING match"); s = ""
            if (m) { s = substr($0, m); sub(/^STRING match +"/, "", s); sub(/".*/, "", s) }
            if (s == t) { print $1; exit } }'
}

# e2e_install HOME SIDE [OPTION...]: installs the side's program in the home with its
# installer (lab_install, OPTIONs passed on).
declare -A E2E_PID=() E2E_INSTALLED=()
e2e_install() {
    local home=$1 side=$2
    E2E_INSTALLED[$home-$side]=$(lab_install "$@")
}

# e2e_start HOME EXE CAPTION [NAME [ARGUMENT...]]: installs the program EXE names
# (client.exe or server.exe, of E2E_WINDOWS) in the home with its installer, the first
# time; starts it as its Start-menu shortcut does (or with the ARGUMENTs, as the task
# that starts the server with Windows does), in its install folder, which becomes the
# home's working directory; waits until its dialog is on the display and starts a
# watcher of its status line (log: $LAB_RUN/HOME/watch-NAME.log). Sets E2E_PID[NAME]
# (the Wine process of the program, whose command name is the .exe's).
e2e_start() {
    local home=$1 exe=$2 caption=$3 name=${4:-$(basename "$2" .exe)} side work
    shift $(($# < 4 ? $# : 4))
    side=$(basename "$exe" .exe)
    if [ -z "${E2E_INSTALLED[$home-$side]:-}" ]; then
        e2e_install "$home" "$side" || return 1
    fi
    work=${E2E_INSTALLED[$home-$side]}
    E2E_WORK[$home]=$work
    E2E_PID[$name]=$(cd "$work" && lab_spawn "$home" "$name" env DISPLAY="${E2E_DISPLAY[$home]}" \
        WINEPREFIX="$LAB_RUN/$home/prefix" wine "C:\\Program Files\\punchvpn $side\\$side.exe" "$@")
    DISPLAY=${E2E_DISPLAY[$home]} x_window_wait 60000 "^$caption\$" >/dev/null ||
        { lab_fail "no window \"$caption\" from $side.exe in $home"; return 1; }
    e2e_driver "$home" wait "$caption" 10000 ||
        { lab_fail "the driver cannot reach \"$caption\" in $home"; return 1; }
    # Not in the program's folder, which the watcher would hold (an uninstaller could
    # not remove it).
    (cd "$LAB_RUN/$home/prefix/drive_c" && lab_spawn "$home" "watch-$name" env DISPLAY="${E2E_DISPLAY[$home]}" \
        WINEPREFIX="$LAB_RUN/$home/prefix" wine "$E2E_TOOLS/watch.exe" "$caption") >/dev/null
    E2E_LOG[$name]=$LAB_RUN/$home/watch-$name.log
    E2E_CAPTION[$name]=$caption
    E2E_HOME[$name]=$home
    e2e_wait "$name" '*' 20 0 >/dev/null
}
declare -A E2E_LOG=() E2E_CAPTION=() E2E_HOME=()

# The dialog driver in a home; its exit code (3 when the dialog does not answer in time).
e2e_driver() {
    local home=$1; shift
    e2e_wine "$home" timeout 30 wine "$E2E_DRIVER" "$@"
}

# Types name and password into a program's dialog.
e2e_fill() {   # e2e_fill NAME USER PASSWORD
    local home=${E2E_HOME[$1]} caption=${E2E_CAPTION[$1]}
    e2e_driver "$home" set "$caption" $NAME_FIELD "$2" && e2e_driver "$home" set "$caption" $PASSWORD_FIELD "$3"
}
# Presses a button (CONNECT_BUTTON, DISCONNECT_BUTTON, IDCANCEL) of a program's dialog.
e2e_press() { e2e_driver "${E2E_HOME[$1]}" press "${E2E_CAPTION[$1]}" "$2"; }

# e2e_mark NAME: the number of status changes logged so far (for e2e_wait).
e2e_mark() { wc -l <"${E2E_LOG[$1]}" 2>/dev/null || echo 0; }

# e2e_wait NAME TEXT SECONDS [MARK]: waits until the status line of NAME showed TEXT
# (escaped as the watcher writes it; '*' for any text) in a change after MARK (default:
# any). Prints the time (ms since the epoch) of that change; returns 1 on timeout.
e2e_wait() { busywait $(($3 * 1000)) e2e_showed "$1" "$2" "${4:-0}"; }

# e2e_showed NAME TEXT MARK: prints the time of the first change after MARK that showed TEXT.
e2e_showed() {
    local at
    at=$(tail -n +"$(($3 + 1))" "${E2E_LOG[$1]}" 2>/dev/null |
         E2E_TEXT=$2 awk '{ ms = $1; sub(/^[0-9]+ ?/, "") }
                          ENVIRON["E2E_TEXT"] == "*" || $0 == ENVIRON["E2E_TEXT"] { print ms; exit }')
    [ -n "$at" ] && echo "$at"
}

# e2e_wait_connected NAME SECONDS MARK: waits until NAME shows the connected text or the
# recovery text (the server's, after a missed tick) after MARK; prints the time.
e2e_wait_connected() { busywait $(($2 * 1000)) _e2e_connected "$1" "$3"; }
_e2e_connected() { e2e_showed "$1" "$CONNECTED" "$2" || e2e_showed "$1" "$RECOVERY" "$2"; }

# The status texts of NAME after MARK, one per line (for messages).
e2e_texts() { tail -n +"$(( ${2:-0} + 1 ))" "${E2E_LOG[$1]}" 2>/dev/null | cut -d' ' -f2- | paste -sd'|'; }

# e2e_timeline T0_MS NAME...: the status changes of the named dialogs, merged in time,
# with seconds since T0 ("<busy>": the dialog answers nothing while it blocks).
e2e_timeline() {
    local t0=$1 name; shift
    for name in "$@"; do
        awk -v n="$name" '{ ms = $1; sub(/^[0-9]+ ?/, ""); print ms, n, $0 }' "${E2E_LOG[$name]}"
    done | sort -n -k1,1 -s | awk -v t0="$t0" '
        $3 == "<gone>" { next }
        { ms = $1; n = $2; sub(/^[0-9]+ [^ ]+ ?/, "")
          text = ($0 == "") ? "(blank)" : $0
          printf "  %+8.2f s  %-7s %s\n", (ms - t0) / 1000, n, text }'
}

# A screenshot of a program's dialog (PNG).
e2e_screenshot() {   # e2e_screenshot NAME FILE.png
    local home=${E2E_HOME[$1]} bmp=${E2E_WORK[${E2E_HOME[$1]}]}/shot-$1.bmp
    e2e_driver "$home" screenshot "${E2E_CAPTION[$1]}" "shot-$1.bmp" >/dev/null &&
        convert "$bmp" "$2"
}

# e2e_hold NAME: stops the program's Wine process, as a slow (or busy) machine that
# gets to its next tick late; its sockets keep what arrives meanwhile, in order.
# e2e_release_in NAME SECONDS lets it go on that much later (in the background).
e2e_hold() { kill -STOP "${E2E_PID[$1]}"; }
e2e_release_in() { (sleep "$2"; kill -CONT "${E2E_PID[$1]}" 2>/dev/null) & }

# The CPU time (user + system, in clock ticks) used so far by a process.
e2e_cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat" 2>/dev/null; }

# e2e_reset_pair [SECONDS]: a fresh start for the next connect of the programs named
# server and client: both Disconnect, until no OpenVPN runs in either home; the
# routers forget their NAT mappings (conntrack -F); the server registers again.
# Returns 1 when the server does not show "WAIT FOR REQUEST" within SECONDS (30).
e2e_reset_pair() {
    local seconds=${1:-30} h m
    e2e_press client $DISCONNECT_BUTTON
    e2e_press server $DISCONNECT_BUTTON
    busywait 6000 _e2e_no_openvpn
    for h in router-server router-client; do
        ip netns exec "$(lab_ns "$h")" conntrack -F >/dev/null 2>&1
    done
    m=$(e2e_mark server)
    e2e_press server $CONNECT_BUTTON
    e2e_wait server "$WAIT_FOR_REQUEST" "$seconds" "$m" >/dev/null
}
# No OpenVPN runs in either home.
_e2e_no_openvpn() {
    local h pid
    for h in home-server home-client; do
        for pid in $(ip netns pids "$(lab_ns "$h")"); do
            [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/sbin/openvpn ] && return 1
        done
    done
    true
}

# Everything down: the lab (every process by PID, every namespace) and the displays.
e2e_cleanup() {
    local h
    lab_down
    for h in "${!E2E_XVFB[@]}"; do xvfb_stop "${E2E_XVFB[$h]}"; done
    E2E_XVFB=() E2E_INSTALLED=() E2E_WORK=()
    true
}
