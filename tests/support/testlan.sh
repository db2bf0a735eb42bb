#!/usr/bin/env bash
# A private two-host test LAN on this machine, for the LAN scenarios, `make demo`
# and the benchmarks. Needs root.
#
#   "mac"   network namespace: en0 (MAC 02:00:00:00:00:10, so fe80::ff:fe00:10),
#           192.0.2.10/24, 2001:db8::10/64; its own system bus and an avahi-daemon
#           (host name qf-mac) on en0. Commands run there see the host name qf-mac.
#   "phone" network namespace: eth0, 192.0.2.20/24, 2001:db8::20/64; its own bus
#           and avahi-daemon (qf-phone), so avahi-browse / avahi-publish there act
#           as the phone.
# en0 and eth0 are the two ends of one veth pair. The daemons run only inside the
# namespaces, each with a private /run, so no mDNS packet reaches a real
# interface and nothing meets a system avahi-daemon or the system bus.
#
# Usage:
#   testlan.sh up DIR [OWNER_PID]   build the LAN in DIR (must not exist); once
#                                   OWNER_PID (default: the caller) is gone the
#                                   LAN is stale and the next `up` removes it
#   testlan.sh down DIR             kill everything in it, remove it and DIR
#   testlan.sh start-daemon DIR mac|phone           start avahi-daemon, wait until it runs
#   testlan.sh kill-daemon DIR mac|phone [SIGNAL]   default KILL; waits until it is gone
#   testlan.sh exec DIR mac|phone CMD...            run CMD there, on that side's bus
#   testlan.sh browse DIR [ARGS...]   avahi-browse on the phone (default: -r -p -t -k _quillfen._tcp)
#
# DIR/env (shell syntax) names the namespaces: QF_LAN_DIR, QF_MAC_NS, QF_PHONE_NS.
# A daemon's pid is in DIR/SIDE/avahi.pid, its log in DIR/SIDE/avahi.log.
set -euo pipefail

die() { echo "testlan: $*" >&2; exit 1; }

# Running and not a zombie (nobody may reap the daemons once their starter exits).
alive() { [ -n "${1:-}" ] && [ -e "/proc/$1" ] && ! grep -qs '^State:.Z' "/proc/$1/status"; }

# Runs the command until it succeeds, for at most 15 s.
retry() { for _ in $(seq 150); do "$@" && return 0; sleep 0.1; done; return 1; }

# shellcheck disable=SC1091 # written by `up`
load() { [ -f "$1/env" ] || die "no test LAN in $1"; . "$1/env"; }
side_ns() { local v="QF_${1^^}_NS"; [ -n "${!v:-}" ] || die "side must be mac or phone"; echo "${!v}"; }

# Kills every process in the namespace, then removes it.
remove_ns() {
    local pids
    for _ in $(seq 50); do
        pids=$(ip netns pids "$1" 2>/dev/null) && [ -n "$pids" ] || break
        # shellcheck disable=SC2086 # one pid a word
        kill -KILL $pids 2>/dev/null || true
        sleep 0.1
    done
    ip netns del "$1" 2>/dev/null || true
}

down() { load "$1" && remove_ns "$QF_MAC_NS" && remove_ns "$QF_PHONE_NS" && rm -rf -- "$QF_LAN_DIR"; }

# Asks SIDE's bus: DESTINATION METHOD (org.freedesktop.NAME.METHOD).
ask() { dbus-send --reply-timeout=1000 --bus="unix:path=$QF_LAN_DIR/$1/bus" --print-reply=literal --dest="$2" / "$3" 2>/dev/null; }

start_bus() {
    local d="$QF_LAN_DIR/$1"
    printf '<busconfig><type>system</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>%s</busconfig>\n' \
        "$d/bus" '<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy>' >"$d/bus.conf"
    ip netns exec "$(side_ns "$1")" dbus-daemon --config-file="$d/bus.conf" --nofork --nopidfile \
        </dev/null >"$d/bus.log" 2>&1 &
    retry ask "$1" org.freedesktop.DBus org.freedesktop.DBus.GetId >/dev/null || die "$1 bus did not start: $(cat "$d/bus.log")"
}

daemon_running() { ask "$1" org.freedesktop.Avahi org.freedesktop.Avahi.Server.GetState | grep -q 'int32 2'; }

start_daemon() {
    local d="$QF_LAN_DIR/$1" interface=en0
    [ "$1" = mac ] || interface=eth0
    alive "$(cat "$d/avahi.pid" 2>/dev/null)" && die "$1 avahi-daemon already runs"
    printf '[server]\nhost-name=qf-%s\nallow-interfaces=%s\nratelimit-interval-usec=1000000\nratelimit-burst=1000\n' \
        "$1" "$interface" >"$d/avahi.conf"
    # A fresh /run in a mount namespace of its own: the daemon's pid file and
    # socket are private, and the real system bus socket is out of reach.
    # shellcheck disable=SC2016 # $0 is the inner shell's
    ip netns exec "$(side_ns "$1")" unshare --mount env -i PATH="$PATH" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$d/bus" \
        sh -c 'mount -t tmpfs run /run && mkdir /run/avahi-daemon &&
               exec avahi-daemon --no-chroot --no-drop-root --no-rlimits -f "$0"' "$d/avahi.conf" \
        </dev/null >>"$d/avahi.log" 2>&1 &
    echo $! >"$d/avahi.pid"
    retry daemon_running "$1" || die "$1 avahi-daemon did not come up: $(tail -n 20 "$d/avahi.log")"
}

kill_daemon() {
    local pid
    pid=$(cat "$QF_LAN_DIR/$1/avahi.pid" 2>/dev/null) || die "no $1 avahi-daemon"
    kill -"$2" "$pid" 2>/dev/null || true
    retry eval "! alive $pid" && rm -f "$QF_LAN_DIR/$1/avahi.pid" || die "$1 avahi-daemon (pid $pid) did not exit"
}

# Runs CMD on that side: its namespace, its bus, its own host name, and no
# /etc/machine-info of this machine's.
run_on() {
    load "$1"
    # shellcheck disable=SC2016 # $0 is the inner shell's
    exec ip netns exec "$(side_ns "$2")" unshare --uts --mount sh -c 'hostname "$0" &&
        { [ ! -e /etc/machine-info ] || mount --bind /dev/null /etc/machine-info; } && exec "$@"' \
        "qf-$2" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$QF_LAN_DIR/$2/bus" "${@:3}"
}

up() {
    local dir="$1" owner="${2:-$PPID}" ns tag
    [ "$(id -u)" = 0 ] || die "must run as root"
    [ -e "$dir" ] && die "$dir exists"
    # LANs whose owner has died (a crashed or killed run).
    for ns in $(ip netns list | grep -oE '^qftl-[0-9]+-[0-9]+-(mac|phone)' || true); do
        tag=${ns#qftl-}
        alive "${tag%%-*}" || remove_ns "$ns"
    done
    tag="$owner-$RANDOM"
    mkdir -p "$dir/mac" "$dir/phone"
    dir=$(cd "$dir" && pwd)
    printf 'QF_LAN_DIR=%s\nQF_MAC_NS=qftl-%s-mac\nQF_PHONE_NS=qftl-%s-phone\n' "$dir" "$tag" "$tag" >"$dir/env"
    load "$dir"
    trap 'down "$QF_LAN_DIR" >/dev/null 2>&1 || true' EXIT
    for ns in "$QF_MAC_NS" "$QF_PHONE_NS"; do
        ip netns add "$ns"
        # Addresses usable at once: no duplicate address detection.
        ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
        ip -n "$ns" link set lo up
    done
    ip link add en0 address 02:00:00:00:00:10 netns "$QF_MAC_NS" type veth peer eth0 netns "$QF_PHONE_NS"
    ip -n "$QF_MAC_NS" link set en0 up
    ip -n "$QF_MAC_NS" addr add 192.0.2.10/24 dev en0
    ip -n "$QF_MAC_NS" addr add 2001:db8::10/64 dev en0
    ip -n "$QF_PHONE_NS" link set eth0 up
    ip -n "$QF_PHONE_NS" addr add 192.0.2.20/24 dev eth0
    ip -n "$QF_PHONE_NS" addr add 2001:db8::20/64 dev eth0
    for side in mac phone; do
        start_bus "$side"
        start_daemon "$side"
    done
    trap - EXIT
    echo "$dir"
}

cmd="${1:-}"
[ $# -gt 0 ] && shift
case "$cmd:$#" in
    up:[12]) up "$@" ;;
    down:1) [ ! -f "$1/env" ] || down "$1" ;;
    start-daemon:2) load "$1" && start_daemon "$2" ;;
    kill-daemon:[23]) load "$1" && kill_daemon "$2" "${3:-KILL}" ;;
    exec:[3-9]* | exec:[1-9][0-9]*) run_on "$@" ;;
    browse:1) run_on "$1" phone avahi-browse -r -p -t -k _quillfen._tcp ;;
    browse:*) run_on "$1" phone avahi-browse "${@:2}" ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
esac
