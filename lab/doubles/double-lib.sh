# Shared by the command doubles of the lab's homes. They stand where Windows keeps the
# real commands (tskill and taskkill in system32, openvpn in OpenVPN's bin folder), and
# Wine starts them inside the home's network namespace; the namespace's name
# (LABID-home-SIDE) says which lab and which home. A double refuses to act anywhere
# else, so it can never touch OpenVPN or a firewall outside the lab.

LAB_ROOT=${LAB_ROOT:-/var/tmp/punchvpn-lab}

# Sets DOUBLE_NS and DOUBLE_STATE (the home's state directory), or fails.
double_home() {
    DOUBLE_NS=$(ip netns identify $$ 2>/dev/null)
    case "$DOUBLE_NS" in
    [a-z]*-home-server|[a-z]*-home-client) ;;
    *) echo "$(basename "$0"): not inside a lab home; nothing done" >&2; return 1 ;;
    esac
    DOUBLE_STATE=$LAB_ROOT/${DOUBLE_NS%%-home-*}/home-${DOUBLE_NS##*-home-}
    mkdir -p "$DOUBLE_STATE"
}

# Records one call: seconds since the epoch and the command line as the double got it.
double_record() {
    printf '%s %s\n' "$(date +%s.%N)" "$*" >>"$DOUBLE_STATE/calls.log"
}

# Ends every OpenVPN of this home, as "tskill openvpn" ends every process named openvpn
# on that machine: each /usr/sbin/openvpn in this network namespace gets TERM (OpenVPN
# then gives its tunnel address back), and KILL after three seconds; the tunnel
# addresses of a killed one are cleared by hand, as the adapter of a vanished OpenVPN
# for Windows carries no usable address.
double_end_openvpn() {
    local pid pids="" i killed=0
    for pid in $(ip netns pids "$DOUBLE_NS"); do
        [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/sbin/openvpn ] && pids="$pids $pid"
    done
    [ -z "$pids" ] && return 0
    kill -TERM $pids 2>/dev/null
    for i in $(seq 30); do
        kill -0 $pids 2>/dev/null || return 0
        sleep 0.1
    done
    for pid in $pids; do kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" && killed=1; done
    [ "$killed" = 1 ] && ip addr flush dev tun0 scope global 2>/dev/null
    true
}
