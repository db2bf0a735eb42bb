#!/usr/bin/env bash
# The tray companion on a real desktop, with screenshots in OUT_DIR for a
# person to look at. What the offscreen tests cannot see is checked here:
#   x11      Xvfb, and trayer (XEmbed) only after the program has started: the
#            icon comes late and is drawn, a left click opens the menu beside
#            it, its quit line ends the program and frees the lock.
#   wayland  headless sway with waybar (StatusNotifier) on a private session
#            bus, as a user of its own (sway refuses root), on the "mac" side
#            of the test LAN with a stand-in Charles: the item's title, no
#            window on a left click, a port typed into the dialog (opened from
#            the exported menu as a host's click sends it) that the phone then
#            sees, quit withdrawing the service; then the XWayland fallback of
#            a session that asks for Wayland by name.
#
#   tray.sh x11|wayland BUNDLE_EXECUTABLE FAKE_PROXY OUT_DIR
# Exit status 77 (skipped): a tool is missing, or not root on Wayland.
set -euo pipefail

desktop=$1 program=$2 proxy=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/quillfen-tray.XXXXXX)
pids=()
cleanup() { kill "${pids[@]}" ${program_pid-} 2>/dev/null || :; wait; [ ! -e "$work/lan/env" ] || "$here/testlan.sh" down "$work/lan"; rm -rf -- "$work"; }
trap cleanup EXIT
need() { for t; do command -v "$t" >/dev/null || { echo "missing $t" >&2; exit 77; }; done; }
fail() { echo "FAILED: $*" >&2; screenshot failure 2>/dev/null || :; cat "$work/output.txt" >&2 || :; exit 1; }
# Waits until the command succeeds, for at most $1 tenths of a second.
wait_until() { local i; for ((i = 0; i < $1; i++)); do "${@:2}" && return 0; sleep 0.1; done; return 1; }
ended() { ! kill -0 "$program_pid" 2>/dev/null; }
mkdir -p "$out" "$work/config/waybar" && mkdir -m 700 "$work/runtime" && chmod 755 "$work"

if [ "$desktop" = x11 ]; then
    need Xvfb trayer xdotool xwininfo xprop import convert
    screenshot() { import -window root "$out/$1.png"; }
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null & pids+=("$!")
    wait_until 50 test -s "$work/display" || fail "Xvfb did not start"
    export DISPLAY=":$(cat "$work/display")"
    # No session bus (Qt takes the XEmbed tray) and no system bus (nothing is published).
    env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORM LANG=C.UTF-8 XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work" \
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus" "$program" >"$work/output.txt" 2>&1 & program_pid=$!
    wait_until 100 grep -q "未找到系统托盘" "$work/output.txt" || fail "no word about the missing tray"
    trayer --edge top --align right --widthtype request --height 32 --tint 0x303030 >/dev/null 2>&1 & pids+=("$!")
    # The icon, a window of the program's class in the panel: "W H X Y".
    icon() { xwininfo -root -tree | awk -F'[ x+]+' '/"panel"/ {p = 1} p && /\("QuillfenMac" / {print $(NF-5), $(NF-4), $(NF-1), $NF; exit}'; }
    wait_until 150 eval 'read -r w h x y < <(icon)' || fail "no tray icon after the tray appeared"
    [ "$(grep -c "未找到系统托盘" "$work/output.txt")" = 1 ] || fail "the missing tray was reported more than once"
    sleep 0.5
    screenshot 1-tray
    [ "$(convert "$out/1-tray.png" -crop "${w}x${h}+$x+$y" -format %k info:)" -gt 4 ] || fail "the icon is blank"
    # A left click opens the menu below the icon: the program's lowest window
    # on the screen is no longer the icon.
    menu_top() { xdotool search --onlyvisible --classname QuillfenMac getwindowgeometry --shell %@ |
        awk -F= '$1 == "Y" && $2 > m {m = $2} END {print m + 0}'; }
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
    wait_until 50 eval '[ "$(menu_top)" -gt "$y" ]' || fail "a left click did not open the menu"
    [ "$(menu_top)" -ge $((y + h)) ] || fail "the menu is not below the icon: top $(menu_top), icon $y+$h"
    screenshot 2-menu
    # Up wraps to the quit line.
    xdotool key Up Return
    wait_until 50 ended || fail "quitting from the menu did not end the program"
    wait "$program_pid" || fail "the program ended with status $?"
    [ ! -e "$work/runtime/QuillfenMac.lock" ] || fail "the single-copy lock was left behind"
    exit 0
fi

need sway swaymsg waybar grim wtype busctl jq setpriv
[ "$(id -u)" = 0 ] || { echo "needs root: network namespaces and a user of its own" >&2; exit 77; }
id -u quillfen-tray >/dev/null 2>&1 || useradd --system --user-group --shell /usr/sbin/nologin quillfen-tray
install -D "$proxy" "$work/Charles.app/Contents/MacOS/Charles"
"$here/testlan.sh" up "$work/lan" $$ >/dev/null
. "$work/lan/env"
bus="unix:path=$work/runtime/bus"
# Everything of the session runs as that user, on the mac side; the sanitizer
# settings of a sanitized run pass through.
as_user() {
    ip netns exec "$QF_MAC_NS" setpriv --reuid=quillfen-tray --regid=quillfen-tray --init-groups \
        env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$work" XDG_RUNTIME_DIR="$work/runtime" \
        XDG_CONFIG_HOME="$work/config" DBUS_SESSION_BUS_ADDRESS="$bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$QF_LAN_DIR/mac/bus" \
        WAYLAND_DISPLAY=wayland-1 SWAYSOCK="$work/runtime/sway.sock" $(env | grep -E '^(A|L|UB)SAN_OPTIONS=') "$@"
}
screenshot() { as_user grim - >"$out/$1.png"; }
printf 'output * resolution 800x500 bg #4a6073 solid_color\nxwayland enable\n' >"$work/sway.conf"
echo '{"layer": "top", "height": 30, "modules-left": ["tray"], "tray": {"icon-size": 22}}' >"$work/config/waybar/config"
chown -R "quillfen-tray:" "$work/config" "$work/runtime" "$work/Charles.app"
mkdir -p -m 1777 /tmp/.X11-unix
call() { as_user busctl --address="$bus" --json=short -- "$@"; }
watcher() { call get-property org.kde.StatusNotifierWatcher /StatusNotifierWatcher org.kde.StatusNotifierWatcher "$1" | jq -r .data; }
as_user dbus-daemon --session --address="$bus" --nofork --nopidfile >/dev/null 2>&1 & pids+=("$!")
as_user env -u WAYLAND_DISPLAY WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 & pids+=("$!")
wait_until 100 as_user swaymsg -q -t get_version 2>/dev/null || fail "sway did not start: $(tail -n 5 "$work/sway.log")"
as_user waybar >/dev/null 2>&1 & pids+=("$!")
wait_until 100 eval '[ "$(watcher IsStatusNotifierHostRegistered 2>/dev/null)" = true ]' ||
    fail "waybar is no StatusNotifier host"
as_user "$work/Charles.app/Contents/MacOS/Charles" 8888 65535 >/dev/null & pids+=("$!")

# The newest item that the host lists, and the pid behind its bus name.
find_item() {
    item=$(watcher RegisteredStatusNotifierItems | jq -r '.[-1] // empty | split("/")[0]')
    [ -n "$item" ] && program_pid=$(call call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
        GetConnectionUnixProcessID s "$item" | jq .data[0]) && ! ended
}
# Starts the program (VAR=VALUE arguments go to its environment); checks the item's title.
start_program() {
    as_user XDG_SESSION_TYPE=wayland "$@" "$program" >"$work/output.txt" 2>&1 & job=$!
    wait_until 100 find_item || fail "the host lists no item of the program"
    title=$(call get-property "$item" /StatusNotifierItem org.kde.StatusNotifierItem Title | jq -r .data)
    [ "$title" = "Quillfen Mac 助手" ] || fail "title: $title"
}
windows() { as_user swaymsg -t get_tree | jq "[.. | objects | select(.pid? == $program_pid)] | length"; }
# A left click on the icon (the host calls Activate) opens no window; the
# quit line ends the program.
click_and_quit() {
    call call "$item" /StatusNotifierItem org.kde.StatusNotifierItem Activate ii 10 15 >/dev/null
    sleep 1
    [ "$(windows)" = 0 ] || fail "a left click opened a window ($1)"
    choose 退出
    wait_until 100 ended || fail "the quit line did not end the program ($1)"
    wait "$job" || fail "the program ended with status $? ($1)"
}
# A click on the menu line whose label starts with $1, as the host sends it.
choose() {
    local id=$(call call "$item" /MenuBar com.canonical.dbusmenu GetLayout iias 0 -1 0 |
        jq --arg l "$1" '.data[1][2][].data | select(.[1].label.data // "" | startswith($l)) | .[0]')
    as_user busctl --address="$bus" --expect-reply=no call "$item" /MenuBar com.canonical.dbusmenu Event isvu "$id" clicked i 0 0
}
published_on() { [ "$("$here/testlan.sh" browse "$work/lan" | awk -F';' '/^=/ {print $9; exit}')" = "$1" ]; }

start_program
# The port typed into the dialog as a person would, and saved with Return.
choose 代理端口
wait_until 50 eval '[ "$(windows)" = 1 ]' || fail "the port line did not open the port dialog"
sleep 0.5
screenshot port-dialog
as_user wtype -s 300 65535 -k Return
wait_until 200 published_on 65535 || fail "the phone does not see the service on the new port"
click_and_quit Wayland

# Qt's Wayland plugin cannot start (no compositor at WAYLAND_DISPLAY): a
# session that asks for Wayland by name still gets the item, through XWayland.
as_user swaymsg -q 'exec printenv DISPLAY >"$XDG_RUNTIME_DIR/display"'
wait_until 50 test -s "$work/runtime/display" || fail "sway has no XWayland display"
start_program DISPLAY="$(cat "$work/runtime/display")" QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=nowhere
click_and_quit XWayland
