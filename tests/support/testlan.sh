#!/usr/bin/env bash
# A private two-host test LAN on this machine, for the LAN tests, the end-to-end
# tests, the benchmarks and `make demo`. Needs root.
#
#   "mac"   network namespace: interface en0, 192.0.2.10/24, 2001:db8::10/64,
#           its own system bus and an avahi-daemon (host name qf-mac) on en0.
#   "phone" network namespace: interface eth0, 192.0.2.20/24, 2001:db8::20/64,
#           its own system bus and an avahi-daemon (host name qf-phone) on eth0,
#           so avahi-browse / avahi-publish there act as the phone.
# The two interfaces are the ends of one veth pair. Every daemon runs inside the
# namespaces, in its own mount namespace, so no mDNS packet reaches a real
# interface and nothing clashes with a system avahi-daemon or the system bus.
#
# Usage:
#   testlan.sh up DIR [OWNER_PID]   build the LAN; DIR is created and must not
#                                   exist; OWNER_PID (default: the caller) is the
#                                   process whose death makes the LAN stale
#   testlan.sh down DIR             kill everything, remove namespaces and DIR
#   testlan.sh start-daemon DIR mac|phone   start avahi-daemon and wait until it runs
#   testlan.sh kill-daemon DIR mac|phone [SIGNAL]   default SIGKILL; waits until gone
#   testlan.sh exec DIR mac|phone CMD...    run CMD in that namespace on that bus
#   testlan.sh browse DIR [ARGS...]         avahi-browse on the phone; default
#                                           ARGS: -r -p -t -k _quillfen._tcp
#   testlan.sh addr DIR add|del CIDR        change en0's addresses
#   testlan.sh cleanup-stale                remove LANs whose owner has died
#
# `up` writes DIR/env (shell syntax): QF_LAN_DIR, QF_LAN_TAG, QF_LAN_OWNER,
# QF_MAC_NS, QF_PHONE_NS, QF_MAC_IF, QF_PHONE_IF, QF_MAC_BUS, QF_PHONE_BUS,
# QF_MAC_IPV4, QF_MAC_IPV6, QF_PHONE_IPV4, QF_PHONE_IPV6. The daemon pids are in
# DIR/<side>/avahi.pid, the bus pids in DIR/<side>/bus.pid, the logs in
# DIR/<side>/avahi.log and DIR/<side>/bus.log.
set -euo pipefail

REGISTRY="${QF_TESTLAN_REGISTRY:-/tmp/quillfen-testlan.d}"
READY_TIMEOUT_TENTHS=150   # 15 s for a bus or a daemon to come up

die() { echo "testlan: $*" >&2; exit 1; }

need_root() { [ "$(id -u)" = 0 ] || die "must run as root"; }

load_env() {
    local dir="$1"
    [ -f "$dir/env" ] || die "no test LAN in $dir"
    # shellcheck disable=SC1091
    . "$dir/env"
}

side_ns() { case "$1" in mac) echo "$QF_MAC_NS" ;; phone) echo "$QF_PHONE_NS" ;; *) die "side must be mac or phone" ;; esac; }
side_bus() { case "$1" in mac) echo "$QF_MAC_BUS" ;; phone) echo "$QF_PHONE_BUS" ;; *) die "side must be mac or phone" ;; esac; }
side_if() { case "$1" in mac) echo "$QF_MAC_IF" ;; phone) echo "$QF_PHONE_IF" ;; *) die "side must be mac or phone" ;; esac; }
side_host() { case "$1" in mac) echo qf-mac ;; phone) echo qf-phone ;; esac; }

# Running and not a zombie (the daemons outlive the script that started them).
alive() {
    local state
    [ -n "${1:-}" ] || return 1
    state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

# Kills every process of a namespace, then removes it.
remove_ns() {
    local ns="$1" pids
    ip netns list | awk '{print $1}' | grep -qx "$ns" || return 0
    for _ in $(seq 50); do
        pids=$(ip netns pids "$ns" 2>/dev/null || true)
        [ -z "$pids" ] && break
        # shellcheck disable=SC2086
        kill -KILL $pids 2>/dev/null || true
        sleep 0.1
    done
    ip netns del "$ns" 2>/dev/null || true
}

teardown() {
    local dir="$1" f
    load_env "$dir"
    for f in "$dir"/mac/*.pid "$dir"/phone/*.pid; do
        if [ -f "$f" ]; then kill -KILL "$(cat "$f")" 2>/dev/null || true; fi
    done
    remove_ns "$QF_MAC_NS"
    remove_ns "$QF_PHONE_NS"
    rm -f "$REGISTRY/$QF_LAN_TAG"
    case "$dir" in
        /|"") ;;
        *) rm -rf -- "$dir" ;;
    esac
}

# A LAN is stale when its owner is gone (a crashed or killed test run).
cleanup_stale() {
    local entry tag owner dir ns
    if [ -d "$REGISTRY" ]; then
        for entry in "$REGISTRY"/*; do
            [ -f "$entry" ] || continue
            tag=$(basename "$entry")
            owner=${tag%%-*}
            alive "$owner" && continue
            dir=$(cat "$entry")
            if [ -f "$dir/env" ]; then
                teardown "$dir" || true
            else
                remove_ns "qftl-$tag-mac"
                remove_ns "qftl-$tag-phone"
                rm -f "$entry"
            fi
        done
    fi
    # Namespaces left without a registry entry.
    for ns in $(ip netns list | awk '{print $1}' | grep -E '^qftl-[0-9]+-[0-9]+-(mac|phone)$' || true); do
        tag=${ns#qftl-}
        owner=${tag%%-*}
        alive "$owner" || remove_ns "$ns"
    done
}

bus_config() {
    local socket="$1"
    cat <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
EOF
}

avahi_config() {
    local host="$1" ifname="$2"
    cat <<EOF
[server]
host-name=$host
domain-name=local
use-ipv4=yes
use-ipv6=yes
allow-interfaces=$ifname
enable-dbus=yes
disallow-other-stacks=no
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
publish-domain=no
publish-aaaa-on-ipv4=yes
publish-a-on-ipv6=no

[reflector]
enable-reflector=no

[rlimits]
EOF
}

wait_for_bus() {
    local bus="$1" pid="$2"
    for _ in $(seq $READY_TIMEOUT_TENTHS); do
        alive "$pid" || return 1
        if dbus-send --bus="$bus" --print-reply --dest=org.freedesktop.DBus / \
               org.freedesktop.DBus.GetId >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

start_bus() {
    local dir="$1" side="$2" ns bus pid
    ns=$(side_ns "$side")
    bus_config "$dir/$side/bus" >"$dir/$side/bus.conf"
    ip netns exec "$ns" dbus-daemon --config-file="$dir/$side/bus.conf" --nofork \
        --nopidfile --nosyslog </dev/null >"$dir/$side/bus.log" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/$side/bus.pid"
    wait_for_bus "unix:path=$dir/$side/bus" "$pid" ||
        die "$side bus did not start: $(cat "$dir/$side/bus.log")"
}

daemon_state() {
    local bus="$1"
    dbus-send --bus="$bus" --print-reply=literal --dest=org.freedesktop.Avahi / \
        org.freedesktop.Avahi.Server.GetState 2>/dev/null | awk '{print $2}'
}

start_daemon() {
    local dir="$1" side="$2" ns bus ifname host pid
    ns=$(side_ns "$side")
    bus=$(side_bus "$side")
    ifname=$(side_if "$side")
    host=$(side_host "$side")
    if [ -f "$dir/$side/avahi.pid" ] && alive "$(cat "$dir/$side/avahi.pid")"; then
        die "$side avahi-daemon already runs"
    fi
    mkdir -p "$dir/$side/run" "$dir/$side/services"
    # A killed daemon leaves its pid file; while that pid is an unreaped
    # zombie, a new daemon would take it for a running one.
    rm -f "$dir/$side/run/pid"
    : >"$dir/$side/hosts"
    avahi_config "$host" "$ifname" >"$dir/$side/avahi-daemon.conf"
    # A private mount namespace: /run is a fresh tmpfs there (so the real
    # system bus socket and any system avahi-daemon's runtime directory are out
    # of reach), /run/avahi-daemon is this side's own directory, and the static
    # service and host files are empty.
    # shellcheck disable=SC2016 # $1 is expanded by the inner shell
    ip netns exec "$ns" unshare --mount --propagation private \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DBUS_SYSTEM_BUS_ADDRESS="$bus" \
        sh -c 'mount -t tmpfs -o mode=0755,size=1m quillfen-run /run &&
               mkdir /run/avahi-daemon &&
               mount --bind "$1/run" /run/avahi-daemon &&
               mount --bind "$1/services" /etc/avahi/services &&
               mount --bind "$1/hosts" /etc/avahi/hosts &&
               exec avahi-daemon --no-chroot --no-drop-root --no-rlimits --no-proc-title \
                    -f "$1/avahi-daemon.conf"' sh "$dir/$side" \
        </dev/null >>"$dir/$side/avahi.log" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/$side/avahi.pid"
    for _ in $(seq $READY_TIMEOUT_TENTHS); do
        alive "$pid" || die "$side avahi-daemon exited: $(tail -n 20 "$dir/$side/avahi.log")"
        [ "$(daemon_state "$bus")" = 2 ] && return 0
        sleep 0.1
    done
    die "$side avahi-daemon did not reach the running state: $(tail -n 20 "$dir/$side/avahi.log")"
}

kill_daemon() {
    local dir="$1" side="$2" signal="${3:-KILL}" pid
    [ -f "$dir/$side/avahi.pid" ] || die "no $side avahi-daemon"
    pid=$(cat "$dir/$side/avahi.pid")
    kill -"$signal" "$pid" 2>/dev/null || true
    for _ in $(seq $READY_TIMEOUT_TENTHS); do
        alive "$pid" || { rm -f "$dir/$side/avahi.pid"; return 0; }
        sleep 0.1
    done
    die "$side avahi-daemon (pid $pid) did not exit"
}

up() {
    local dir="$1" owner="${2:-$PPID}" tag
    need_root
    [ -e "$dir" ] && die "$dir exists"
    cleanup_stale
    mkdir -p "$REGISTRY"
    for _ in $(seq 100); do
        tag="$owner-$RANDOM"
        [ -e "$REGISTRY/$tag" ] && continue
        ip netns list | awk '{print $1}' | grep -qE "^qftl-$tag-(mac|phone)\$" && continue
        break
    done
    mkdir -p "$dir/mac" "$dir/phone"
    dir=$(cd "$dir" && pwd)
    echo "$dir" >"$REGISTRY/$tag"
    cat >"$dir/env" <<EOF
QF_LAN_DIR=$dir
QF_LAN_TAG=$tag
QF_LAN_OWNER=$owner
QF_MAC_NS=qftl-$tag-mac
QF_PHONE_NS=qftl-$tag-phone
QF_MAC_IF=en0
QF_PHONE_IF=eth0
QF_MAC_BUS=unix:path=$dir/mac/bus
QF_PHONE_BUS=unix:path=$dir/phone/bus
QF_MAC_IPV4=192.0.2.10
QF_MAC_IPV6=2001:db8::10
QF_PHONE_IPV4=192.0.2.20
QF_PHONE_IPV6=2001:db8::20
EOF
    load_env "$dir"
    # From here on a failure tears down what was built.
    trap 'teardown "$QF_LAN_DIR" >/dev/null 2>&1 || true' ERR EXIT

    ip netns add "$QF_MAC_NS"
    ip netns add "$QF_PHONE_NS"
    local ns
    for ns in "$QF_MAC_NS" "$QF_PHONE_NS"; do
        # Addresses are usable at once: no duplicate address detection, which
        # would otherwise make the daemons re-probe while they start.
        ip netns exec "$ns" sysctl -q -w net.ipv6.conf.all.accept_dad=0 \
            net.ipv6.conf.default.accept_dad=0 net.ipv6.conf.default.dad_transmits=0 \
            net.ipv6.conf.all.forwarding=0
        ip -n "$ns" link set lo up
    done
    ip link add name "$QF_MAC_IF" netns "$QF_MAC_NS" type veth \
        peer name "$QF_PHONE_IF" netns "$QF_PHONE_NS"
    ip -n "$QF_MAC_NS" link set "$QF_MAC_IF" multicast on up
    ip -n "$QF_PHONE_NS" link set "$QF_PHONE_IF" multicast on up
    ip -n "$QF_MAC_NS" addr add "$QF_MAC_IPV4/24" dev "$QF_MAC_IF"
    ip -n "$QF_MAC_NS" addr add "$QF_MAC_IPV6/64" dev "$QF_MAC_IF" nodad
    ip -n "$QF_PHONE_NS" addr add "$QF_PHONE_IPV4/24" dev "$QF_PHONE_IF"
    ip -n "$QF_PHONE_NS" addr add "$QF_PHONE_IPV6/64" dev "$QF_PHONE_IF" nodad

    start_bus "$dir" mac
    start_bus "$dir" phone
    start_daemon "$dir" mac
    start_daemon "$dir" phone
    trap - ERR EXIT
    echo "$dir"
}

cmd="${1:-}"
[ $# -gt 0 ] && shift
case "$cmd" in
    up)
        [ $# -ge 1 ] || die "usage: testlan.sh up DIR [OWNER_PID]"
        up "$@"
        ;;
    down)
        [ $# -eq 1 ] || die "usage: testlan.sh down DIR"
        need_root
        [ -f "$1/env" ] || exit 0
        teardown "$1"
        ;;
    start-daemon)
        [ $# -eq 2 ] || die "usage: testlan.sh start-daemon DIR mac|phone"
        load_env "$1"
        start_daemon "$QF_LAN_DIR" "$2"
        ;;
    kill-daemon)
        [ $# -ge 2 ] || die "usage: testlan.sh kill-daemon DIR mac|phone [SIGNAL]"
        load_env "$1"
        kill_daemon "$QF_LAN_DIR" "$2" "${3:-KILL}"
        ;;
    exec)
        [ $# -ge 3 ] || die "usage: testlan.sh exec DIR mac|phone CMD..."
        load_env "$1"
        side="$2"
        shift 2
        exec ip netns exec "$(side_ns "$side")" env DBUS_SYSTEM_BUS_ADDRESS="$(side_bus "$side")" "$@"
        ;;
    browse)
        [ $# -ge 1 ] || die "usage: testlan.sh browse DIR [ARGS...]"
        load_env "$1"
        shift
        [ $# -gt 0 ] || set -- -r -p -t -k _quillfen._tcp
        exec ip netns exec "$QF_PHONE_NS" env DBUS_SYSTEM_BUS_ADDRESS="$QF_PHONE_BUS" avahi-browse "$@"
        ;;
    addr)
        [ $# -eq 3 ] || die "usage: testlan.sh addr DIR add|del CIDR"
        load_env "$1"
        case "$2" in
            add)
                case "$3" in
                    *:*) ip -n "$QF_MAC_NS" addr add "$3" dev "$QF_MAC_IF" nodad ;;
                    *) ip -n "$QF_MAC_NS" addr add "$3" dev "$QF_MAC_IF" ;;
                esac
                ;;
            del) ip -n "$QF_MAC_NS" addr del "$3" dev "$QF_MAC_IF" ;;
            *) die "usage: testlan.sh addr DIR add|del CIDR" ;;
        esac
        ;;
    cleanup-stale)
        need_root
        cleanup_stale
        ;;
    *)
        sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
        exit 2
        ;;
esac
