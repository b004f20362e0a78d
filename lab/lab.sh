# The NAT lab, as a library of shell functions (source it from bash; lab/lab is the
# command-line face). Six network namespaces make two homes behind two NAT routers
# on a small internet with the rendezvous host `central`:
#
#   home-server 192.168.1.10 -- 192.168.1.1 router-server 198.51.100.2 --+
#                                                                        internet -- 192.0.2.10 central
#   home-client 192.168.2.10 -- 192.168.2.1 router-client 203.0.113.2  --+
#
# Every address lives inside these namespaces; the internet knows no route to the
# homes' private ranges and has no default route, so nothing leaves the lab. Every
# process the lab starts is recorded and stopped by PID, and every namespace it makes
# is removed again by lab_down.
#
# NAT profiles of a router:
#   endpoint-independent  full cone: a port forward of UDP 1194 to the home, plus masquerade
#   linux-default         port-preserving masquerade; inbound only for established flows
#                         (address-and-port-dependent filtering); the router's own WAN
#                         input dropped, as home routers do
#   symmetric             like linux-default, but a random public port for every new flow
#                         (masquerade --random-fully), so each destination sees another port

LAB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
LAB_REPO=$(cd "$LAB_DIR/.." && pwd)
. "$LAB_REPO/tools/lib.sh"
wine_env
LAB_ROOT=${LAB_ROOT:-/var/tmp/punchvpn-lab}
LAB_ID=${LAB_ID:-pv}
LAB_RUN=$LAB_ROOT/$LAB_ID
LAB_PROFILES="endpoint-independent linux-default symmetric"
LAB_HOSTS="internet central router-server router-client home-server home-client"
LAB_PY=/usr/bin/python3
# The Windows programs (and the netsh double) the homes install.
LAB_WINDOWS=${LAB_WINDOWS:-$LAB_REPO/build/windows}

# Addresses of the lab (one table, read by lab_addr).
declare -A LAB_ADDRESS=(
    [central]=192.0.2.10           [internet-central]=192.0.2.1
    [router-server]=198.51.100.2   [internet-server]=198.51.100.1
    [router-client]=203.0.113.2    [internet-client]=203.0.113.1
    [router-server-lan]=192.168.1.1 [home-server]=192.168.1.10
    [router-client-lan]=192.168.2.1 [home-client]=192.168.2.10
)
declare -A LAB_HOSTNAME=([home-server]=${LAB_SERVER_HOSTNAME:-HOMESERVER}
                         [home-client]=${LAB_CLIENT_HOSTNAME:-HOMECLIENT})

lab_fail() { echo "lab: $*" >&2; return 1; }
lab_ns() { echo "$LAB_ID-$1"; }
lab_addr() { echo "${LAB_ADDRESS[$1]:?lab: no address named $1}"; }

# The central host name the programs were built with (build/windows), else the default.
lab_central_host() {
    local cache=$LAB_REPO/build/windows/CMakeCache.txt name=""
    [ -f "$cache" ] && name=$(sed -n 's/^CENTRAL_HOST:STRING=//p' "$cache")
    echo "${LAB_CENTRAL_HOST:-${name:-central.example.net}}"
}

# Runs a command in a lab host's namespace, in the foreground. In the homes it runs
# in a UTS namespace of its own whose host name is that home's computer name.
lab_exec() {
    local host=$1; shift
    case "$host" in
    home-*) ip netns exec "$(lab_ns "$host")" unshare --uts -- \
                sh -c 'hostname "$0" && exec "$@"' "${LAB_HOSTNAME[$host]}" "$@" ;;
    *)      ip netns exec "$(lab_ns "$host")" "$@" ;;
    esac
}

# Starts a command in the background in a lab host, output to $LAB_RUN/HOST/NAME.log,
# records its PID for lab_down and prints it.
lab_spawn() {
    local host=$1 name=$2; shift 2
    mkdir -p "$LAB_RUN/$host"
    # exec all the way down, so that the recorded PID is the command itself (a plain
    # "lab_exec ... &" would record a subshell whose TERM leaves the command running).
    (
        case "$host" in
        home-*) exec ip netns exec "$(lab_ns "$host")" unshare --uts -- \
                    sh -c 'hostname "$0" && exec "$@"' "${LAB_HOSTNAME[$host]}" "$@" ;;
        *)      exec ip netns exec "$(lab_ns "$host")" "$@" ;;
        esac
    ) >"$LAB_RUN/$host/$name.log" 2>&1 </dev/null &
    local pid=$!
    echo "$pid $host $name" >>"$LAB_RUN/pids"
    echo "$pid"
}

# Stops one process started by lab_spawn: TERM, then KILL after two seconds.
lab_stop_pid() {
    local pid=$1
    kill -TERM "$pid" 2>/dev/null || return 0
    busywait 2000 lab_gone "$pid" || kill -KILL "$pid" 2>/dev/null
    true
}
lab_gone() { ! kill -0 "$1" 2>/dev/null; }

# --- bring-up ----------------------------------------------------------------------

_lab_veth() {   # _lab_veth HOST_A IFACE_A HOST_B IFACE_B
    ip link add "$2" netns "$(lab_ns "$1")" type veth peer name "$4" netns "$(lab_ns "$3")"
}
_lab_ip() { local host=$1; shift; ip -n "$(lab_ns "$host")" "$@"; }
_lab_ipt() { local host=$1; shift; ip netns exec "$(lab_ns "$host")" iptables -w "$@"; }

_lab_iface() {  # _lab_iface HOST IFACE ADDRESS [GATEWAY]
    _lab_ip "$1" addr add "$3/24" dev "$2" &&
    _lab_ip "$1" link set "$2" up &&
    if [ -n "${4:-}" ]; then _lab_ip "$1" route add default via "$4"; fi
}

# The router of one home: forwarding, filtering and NAT of the given profile.
# Only inside the router's own namespace.
_lab_router() { # _lab_router SIDE PROFILE
    local r=router-$1 home; home=$(lab_addr "home-$1")
    ip netns exec "$(lab_ns "$r")" sysctl -qw net.ipv4.ip_forward=1 || return 1
    _lab_ipt "$r" -P FORWARD DROP &&
    _lab_ipt "$r" -A FORWARD -i lan -o wan -j ACCEPT &&
    _lab_ipt "$r" -A FORWARD -i wan -o lan -m conntrack --ctstate ESTABLISHED,RELATED -j ACCEPT &&
    _lab_ipt "$r" -A INPUT -i wan -m conntrack --ctstate ESTABLISHED,RELATED -j ACCEPT &&
    _lab_ipt "$r" -A INPUT -i wan -j DROP || return 1
    case "$2" in
    endpoint-independent)
        _lab_ipt "$r" -t nat -A PREROUTING -i wan -p udp --dport 1194 \
            -j DNAT --to-destination "$home:1194" &&
        _lab_ipt "$r" -A FORWARD -i wan -o lan -p udp -d "$home" --dport 1194 -j ACCEPT &&
        _lab_ipt "$r" -t nat -A POSTROUTING -o wan -j MASQUERADE ;;
    linux-default)
        _lab_ipt "$r" -t nat -A POSTROUTING -o wan -j MASQUERADE ;;
    symmetric)
        _lab_ipt "$r" -t nat -A POSTROUTING -o wan -j MASQUERADE --random-fully ;;
    *) lab_fail "unknown NAT profile '$2' (one of: $LAB_PROFILES)" ;;
    esac
}

_lab_check_profile() {
    case " $LAB_PROFILES " in *" $1 "*) return 0 ;; esac
    lab_fail "unknown NAT profile '$1' (one of: $LAB_PROFILES)"
}

# lab_up SERVER_PROFILE CLIENT_PROFILE: builds the whole lab. On failure it removes
# what it made and returns 1.
lab_up() {
    local sp=${1:-linux-default} cp=${2:-linux-default} h
    _lab_check_profile "$sp" && _lab_check_profile "$cp" || return 1
    [[ $LAB_ID =~ ^[a-z][a-z0-9]{0,7}$ ]] || lab_fail "LAB_ID must be a short lower-case word" || return 1
    [ "$(id -u)" = 0 ] || lab_fail "the lab needs root" || return 1
    if [ -e "$LAB_RUN/up" ]; then lab_fail "lab '$LAB_ID' is already up (lab/lab down first)"; return 1; fi
    for h in $LAB_HOSTS; do
        if ip netns list | grep -qw "^$(lab_ns "$h")"; then
            lab_fail "namespace $(lab_ns "$h") exists already (lab/lab down first)"; return 1
        fi
    done
    rm -rf "$LAB_RUN" && mkdir -p "$LAB_RUN" || return 1
    : >"$LAB_RUN/pids"
    printf 'server_profile=%s\nclient_profile=%s\ncentral_host=%s\n' \
        "$sp" "$cp" "$(lab_central_host)" >"$LAB_RUN/lab.env"
    touch "$LAB_RUN/up"
    if ! _lab_build "$sp" "$cp"; then
        echo "lab: bring-up failed; tearing down" >&2
        lab_down
        return 1
    fi
}

_lab_build() {
    local sp=$1 cp=$2 h central_host; central_host=$(lab_central_host)
    for h in $LAB_HOSTS; do
        ip netns add "$(lab_ns "$h")" || return 1
        echo "$(lab_ns "$h")" >>"$LAB_RUN/namespaces"
        _lab_ip "$h" link set lo up || return 1
        # /etc/hosts and resolv.conf of the host, seen through ip netns exec: the
        # central host name resolves to central, and no name query leaves the lab.
        mkdir -p "/etc/netns/$(lab_ns "$h")" &&
        printf '127.0.0.1\tlocalhost\n%s\t%s\n' "$(lab_addr central)" "$central_host" \
            >"/etc/netns/$(lab_ns "$h")/hosts" &&
        printf 'nameserver %s\n' "$(lab_addr central)" >"/etc/netns/$(lab_ns "$h")/resolv.conf" ||
            return 1
        mkdir -p "$LAB_RUN/$h"
    done
    ip netns exec "$(lab_ns internet)" sysctl -qw net.ipv4.ip_forward=1 || return 1
    _lab_veth internet central central eth0 &&
    _lab_veth internet rserver router-server wan &&
    _lab_veth internet rclient router-client wan &&
    _lab_veth router-server lan home-server eth0 &&
    _lab_veth router-client lan home-client eth0 || return 1
    _lab_iface internet central "$(lab_addr internet-central)" &&
    _lab_iface internet rserver "$(lab_addr internet-server)" &&
    _lab_iface internet rclient "$(lab_addr internet-client)" &&
    _lab_iface central eth0 "$(lab_addr central)" "$(lab_addr internet-central)" &&
    _lab_iface router-server wan "$(lab_addr router-server)" "$(lab_addr internet-server)" &&
    _lab_iface router-client wan "$(lab_addr router-client)" "$(lab_addr internet-client)" &&
    _lab_iface router-server lan "$(lab_addr router-server-lan)" &&
    _lab_iface router-client lan "$(lab_addr router-client-lan)" &&
    _lab_iface home-server eth0 "$(lab_addr home-server)" "$(lab_addr router-server-lan)" &&
    _lab_iface home-client eth0 "$(lab_addr home-client)" "$(lab_addr router-client-lan)" ||
        return 1
    _lab_router server "$sp" && _lab_router client "$cp" || return 1
    # The VPN adapter of each home outlives OpenVPN, as on Windows: a persistent tun0
    # that the lab's OpenVPN takes over (--dev tun0) and leaves in place.
    for h in home-server home-client; do
        ip netns exec "$(lab_ns "$h")" ip tuntap add dev tun0 mode tun || return 1
    done
}

# --- tear-down ---------------------------------------------------------------------

# lab_down: stops every process the lab started (by recorded PID, then whatever still
# runs inside the lab's namespaces), removes the namespaces and their /etc/netns
# entries. Safe to call more than once and on a half-built lab. Logs stay in $LAB_RUN.
lab_down() {
    local pid rest ns h
    if [ -f "$LAB_RUN/pids" ]; then
        while read -r pid rest; do kill -TERM "$pid" 2>/dev/null; done <"$LAB_RUN/pids"
    fi
    for h in home-server home-client; do
        [ -d "$LAB_RUN/$h/prefix" ] || continue
        WINEPREFIX=$LAB_RUN/$h/prefix wineserver -k 2>/dev/null
        wine_server_dir_remove "$LAB_RUN/$h/prefix"
    done
    for h in $LAB_HOSTS; do
        ns=$(lab_ns "$h")
        [ -e "/run/netns/$ns" ] || continue
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -TERM "$pid" 2>/dev/null; done
    done
    busywait 3000 _lab_quiet
    for h in $LAB_HOSTS; do
        ns=$(lab_ns "$h")
        [ -e "/run/netns/$ns" ] || { rm -rf "/etc/netns/$ns"; continue; }
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
        ip netns del "$ns" 2>/dev/null || echo "lab: could not remove namespace $ns" >&2
        rm -rf "/etc/netns/$ns"
    done
    if [ -f "$LAB_RUN/pids" ]; then
        while read -r pid rest; do
            kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
        done <"$LAB_RUN/pids"
    fi
    # The Wine prefixes are large; logs and call records stay for reading.
    rm -rf "$LAB_RUN"/home-*/prefix
    rm -f "$LAB_RUN/up"
    true
}

# No process runs in any namespace of the lab.
_lab_quiet() {
    local h ns
    for h in $LAB_HOSTS; do
        ns=$(lab_ns "$h")
        [ -e "/run/netns/$ns" ] && [ -n "$(ip netns pids "$ns" 2>/dev/null)" ] && return 1
    done
    true
}

# --- path between the routers ------------------------------------------------------

# lab_cut: the internet drops everything between the two routers (central stays
# reachable from both). lab_heal puts the path back.
lab_cut() {
    local s c; s=$(lab_addr router-server); c=$(lab_addr router-client)
    _lab_ipt internet -C FORWARD -s "$s" -d "$c" -j DROP 2>/dev/null && return 0
    _lab_ipt internet -I FORWARD -s "$s" -d "$c" -j DROP &&
    _lab_ipt internet -I FORWARD -s "$c" -d "$s" -j DROP
}
lab_heal() {
    local s c; s=$(lab_addr router-server); c=$(lab_addr router-client)
    while _lab_ipt internet -D FORWARD -s "$s" -d "$c" -j DROP 2>/dev/null; do :; done
    while _lab_ipt internet -D FORWARD -s "$c" -d "$s" -j DROP 2>/dev/null; do :; done
    true
}

# --- Wine in a home ----------------------------------------------------------------

# A Wine prefix made once and copied for every home (making one takes many seconds).
lab_wine_template() {
    local t=$LAB_ROOT/wine-template version; version=$(wine --version 2>/dev/null)
    if [ -f "$t/.made" ] && [ "$(cat "$t/.made")" = "$version" ]; then echo "$t"; return 0; fi
    rm -rf "$t" && mkdir -p "$t" || return 1
    # In a namespace of its own, so that Wine's first start sees no network at all.
    unshare --net bash -c '. "$0" && wine_boot "$1"' "$LIB_DIR/lib.sh" "$t" ||
        { lab_fail "could not make a Wine prefix in $t"; return 1; }
    echo "$version" >"$t/.made"
    echo "$t"
}

# lab_wine_home HOME: gives a home its own Wine prefix, laid out as a Windows machine
# with OpenVPN 2.6 from its own installer: license.txt and bin\openvpn.exe (the lab's
# double, which runs Debian's OpenVPN) in LAB_OPENVPN_FOLDER (C:\Program Files\OpenVPN
# by default), those folders in the registry, nothing on the PATH; tskill, taskkill and
# netsh in system32 (the commands named in LAB_LACKS, e.g. "tskill" as on Windows' Home
# editions, left out). The home's firewall is that of Windows' Public profile (see
# _lab_firewall). The programs come later, from their installers (lab_install).
lab_wine_home() {
    local home=$1 template prefix name
    template=$(lab_wine_template) || return 1
    prefix=$LAB_RUN/$home/prefix
    rm -rf "$prefix" && cp -a "$template" "$prefix" || return 1
    _lab_firewall "$home" || return 1
    for name in tskill taskkill; do
        if [[ " ${LAB_LACKS:-} " == *" $name "* ]]; then
            rm -f "$prefix/drive_c/windows/system32/$name.exe"
        else
            WINEPREFIX=$prefix wine_system_doubles "$LAB_DIR/doubles/$name" "$name" || return 1
        fi
    done
    WINEPREFIX=$prefix wine_system_doubles "$LAB_WINDOWS/tests/wine/netsh.exe" netsh || return 1
    lab_wine "$home" bash -c '. "$0" && wine_openvpn_install "$1" "$2" && wineserver -w' "$LIB_DIR/lib.sh" \
        "$LAB_DIR/doubles/openvpn" "${LAB_OPENVPN_FOLDER:-$WINE_OPENVPN_FOLDER}" ||
        { lab_fail "could not install OpenVPN's stand-in in $home"; return 1; }
}

# Windows' firewall with the Public profile, which the tunnel adapter gets, in a home:
# inbound only what a rule lets in (chain netsh, filled by the netsh double as the
# installers add their rules) and replies on flows the home itself began; everything
# else is dropped. The openvpn double forgets the punch socket's flows, as Windows does.
_lab_firewall() {
    local home=$1
    _lab_ipt "$home" -N netsh &&
    _lab_ipt "$home" -N windows-firewall &&
    _lab_ipt "$home" -A windows-firewall -i lo -j ACCEPT &&
    _lab_ipt "$home" -A windows-firewall -m conntrack --ctstate ESTABLISHED,RELATED -j ACCEPT &&
    _lab_ipt "$home" -A windows-firewall -j netsh &&
    _lab_ipt "$home" -A windows-firewall -j DROP &&
    _lab_ipt "$home" -A INPUT -j windows-firewall
}

# The installers of the lab's installation, for the programs of LAB_WINDOWS and the
# lab's key set, made with openvpn/make-kits when they are missing or older than what
# goes into them. Prints their folder.
lab_kits() {
    local keys=${LAB_KEYS:-$LAB_ROOT/keys} kits=$LAB_WINDOWS/lab-kits f newer=""
    mkdir -p "$kits" || return 1
    (
        flock 9
        [ "$(cat "$kits/keys" 2>/dev/null)" = "$keys" ] || rm -f "$kits"/*.exe
        for f in "$LAB_WINDOWS"/{client/client,server/server,stop/stop,tests/wine/netsh}.exe \
                 "$LAB_REPO"/installer/* "$LAB_REPO"/openvpn/* "$keys/tls-crypt.key"; do
            [ "$f" -nt "$kits/punchvpn-server-setup.exe" ] && newer=1
        done
        [ -f "$kits/punchvpn-client-setup.exe" ] && [ -z "$newer" ] && exit 0
        "$LAB_REPO/openvpn/make-kits" "$LAB_WINDOWS" "$keys" "$kits" >/dev/null &&
            echo "$keys" >"$kits/keys"
    ) 9>"$kits/.lock" || { lab_fail "could not make the installers (openvpn/make-kits)"; return 1; }
    echo "$kits"
}

# lab_install HOME SIDE [OPTION...]: installs the side's program with its installer,
# silently, as an administrator would (its firewall rules land in the home's
# firewall), into C:\Program Files\punchvpn SIDE; OPTIONs go to the installer. Two doubles go beside the client there: stop.exe,
# since the lab's OpenVPN is a Linux process that Windows' process list, which the real
# stop.exe reads, does not show; and explorer.exe, since Wine's own in system32 draws
# its desktop and cannot make way ("start explorer" looks in the working directory
# first). Prints the install folder.
lab_install() {
    local home=$1 side=$2 kits dir
    shift 2
    kits=$(lab_kits) || return 1
    lab_wine "$home" wine "$kits/punchvpn-$side-setup.exe" /S "$@" ||
        { lab_fail "the $side installer failed in $home"; return 1; }
    dir="$LAB_RUN/$home/prefix/drive_c/Program Files/punchvpn $side"
    [ -f "$dir/$side.exe" ] || { lab_fail "the $side installer put no $side.exe in $home"; return 1; }
    if [ "$side" = client ]; then
        ln -sfn "$LAB_DIR/doubles/stop" "$dir/stop.exe" &&
        ln -sfn "$LAB_DIR/doubles/explorer" "$dir/explorer.exe" || return 1
    fi
    echo "$dir"
}

# lab_copy_keys SIDE DIR: the TLS files one side of the tunnel needs, from the lab's
# key set ($LAB_KEYS, made on first use).
lab_copy_keys() {
    local keys=${LAB_KEYS:-$LAB_ROOT/keys}
    if [ ! -f "$keys/tls-crypt.key" ]; then
        rm -rf "$keys"
        "$LAB_REPO/openvpn/make-keys" "$keys" >/dev/null || return 1
    fi
    cp "$keys/ca.crt" "$keys/$1.crt" "$keys/$1.key" "$keys/tls-crypt.key" "$2/"
}

# lab_wine HOME CMD...: runs a Wine command in a home with its own prefix. The first
# Wine command of a home starts that prefix's wineserver, inside the home's
# namespaces, where the sockets of its programs must live. DISPLAY comes from the caller.
lab_wine() {
    local home=$1; shift
    lab_exec "$home" env WINEPREFIX="$LAB_RUN/$home/prefix" NETSH_MODEL="$LAB_DIR/doubles/netsh" "$@"
}

# The calls the doubles of a home recorded (one line each: seconds, command line).
lab_calls() { cat "$LAB_RUN/$1/calls.log" 2>/dev/null; }
