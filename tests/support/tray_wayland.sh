#!/usr/bin/env bash
# The tray companion on a Wayland desktop whose tray is a StatusNotifier host:
# a headless sway with waybar as its bar, on a private session bus, run by a
# user of its own (sway refuses root), on the "mac" side of the test LAN with a
# stand-in Charles. Reads the item and its menu over D-Bus as a host does,
# clicks the icon and waybar's menu (a mouse through wayvnc), types into the
# port dialog (wtype), chooses the quit line (dbusmenu Event), calls Activate,
# watches the service from the phone side, and keeps screenshots (grim) in
# OUT_DIR for a person to look at. Then once more without Qt's Wayland
# plugin, through XWayland.
#
#   tray_wayland.sh BUNDLE_EXECUTABLE FAKE_PROXY OUT_DIR
# Exit status 77: not root, or a tool of the session is missing.
set -euo pipefail

program=$1
proxy=$2
out=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/tray_session.sh"
need_tools sway swaymsg waybar wayvnc grim wtype busctl jq python3 setpriv
[ "$(id -u)" = 0 ] || { echo "needs root: network namespaces and a user of its own" >&2; exit 77; }
user=quillfen-tray
id -u "$user" >/dev/null 2>&1 ||
    useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
mkdir -p "$out" "$work/config/waybar" "$work/runtime" "$work/Charles.app/Contents/MacOS"
chmod 755 "$work"
cp "$proxy" "$work/Charles.app/Contents/MacOS/Charles"
on_cleanup() { "$here/testlan.sh" down "$work/lan"; }
"$here/testlan.sh" up "$work/lan" $$ >/dev/null
. "$work/lan/env"

# Everything of the session runs as that user, on the mac side.
bus="unix:path=$work/runtime/bus"
as_user() {
    ip netns exec "$QF_MAC_NS" setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$work" XDG_RUNTIME_DIR="$work/runtime" \
        XDG_CONFIG_HOME="$work/config" DBUS_SESSION_BUS_ADDRESS="$bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$QF_LAN_DIR/mac/bus" \
        WAYLAND_DISPLAY=wayland-1 SWAYSOCK="$work/runtime/sway.sock" \
        ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${LSAN_OPTIONS:+LSAN_OPTIONS="$LSAN_OPTIONS"} \
        ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} "$@"
}
screenshot() { as_user grim - >"$out/$1.png"; }
cat >"$work/sway.conf" <<EOF
output * resolution 800x500 bg #4a6073 solid_color
default_border normal
xwayland enable
EOF
echo '{"layer": "top", "height": 30, "modules-left": ["tray"], "tray": {"icon-size": 22}}' >"$work/config/waybar/config"
echo 'window#waybar { background: #303030; }' >"$work/config/waybar/style.css"
chown -R "$user:" "$work/config" "$work/runtime" "$work/Charles.app"
chmod 700 "$work/runtime"
mkdir -p -m 1777 /tmp/.X11-unix

call() { as_user busctl --address="$bus" --json=short -- "$@"; }
watcher() { call get-property org.kde.StatusNotifierWatcher /StatusNotifierWatcher org.kde.StatusNotifierWatcher "$1" | jq -r .data; }
host_registered() { [ "$(watcher IsStatusNotifierHostRegistered 2>/dev/null)" = true ]; }
as_user dbus-daemon --session --address="$bus" --nofork --nopidfile >"$work/bus.log" 2>&1 & pids+=("$!")
as_user env -u WAYLAND_DISPLAY WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 & pids+=("$!")
wait_until 100 as_user swaymsg -q -t get_version 2>/dev/null || fail "sway did not start: $(tail -n 5 "$work/sway.log")"
as_user waybar >"$work/waybar.log" 2>&1 & pids+=("$!")
# A mouse: wayvnc's virtual pointer, driven by a few bytes of VNC.
as_user wayvnc -u "$work/runtime/vnc" >"$work/wayvnc.log" 2>&1 & pids+=("$!")
click() { # X Y BUTTON
    as_user python3 - "$work/runtime/vnc" "$@" <<'EOF'
import socket, struct, sys, time
x, y, button = map(int, sys.argv[2:])
vnc = socket.socket(socket.AF_UNIX)
vnc.connect(sys.argv[1])
vnc.recv(12); vnc.sendall(b"RFB 003.008\n")
vnc.recv(vnc.recv(1)[0]); vnc.sendall(b"\x01"); vnc.recv(4)
vnc.sendall(b"\x01"); vnc.recv(struct.unpack("!I", vnc.recv(24)[20:])[0])
for mask in (0, 1 << (button - 1), 0):
    vnc.sendall(struct.pack("!BBHH", 5, mask, x, y))
    time.sleep(0.2)
EOF
}
wait_until 100 host_registered || fail "waybar is no StatusNotifier host: $(tail -n 5 "$work/waybar.log")"
as_user "$work/Charles.app/Contents/MacOS/Charles" 8888 65535 >/dev/null & pids+=("$!")

# The newest item that the host lists, and the pid behind its bus name.
find_item() {
    item=$(watcher RegisteredStatusNotifierItems | jq -r '.[-1] // empty | split("/")[0]')
    [ -n "$item" ] && program_pid=$(call call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
        GetConnectionUnixProcessID s "$item" | jq .data[0]) && kill -0 "$program_pid" 2>/dev/null
}
start_program() {
    as_user XDG_SESSION_TYPE=wayland "$@" "$program" >"$work/output.txt" 2>&1 & job=$!
    pids+=("$job")
    wait_until 100 find_item || fail "the host lists no item of the program"
}
property() { call get-property "$item" /StatusNotifierItem org.kde.StatusNotifierItem "$1" | jq -c .data; }
# One line per menu entry: id, type, label, enabled, shortcut.
menu_lines() {
    call call "$item" /MenuBar com.canonical.dbusmenu GetLayout iias 0 -1 0 |
        jq -r '.data[1][2][].data | [.[0], .[1].type.data // "item", .[1].label.data // "",
               .[1].enabled.data != false, (.[1].shortcut.data // [] | map(join("+")) | join(" "))] | @tsv'
}
# A click on the menu line whose label starts with $1, as the host sends it.
choose() {
    local id
    id=$(menu_lines | awk -F'\t' -v label="$1" 'index($3, label) == 1 {print $1}')
    call call "$item" /MenuBar com.canonical.dbusmenu Event isvu "$id" clicked i 0 0 >/dev/null
}
activate() { call call "$item" /StatusNotifierItem org.kde.StatusNotifierItem Activate ii 16 15 >/dev/null; }
windows_of_program() { as_user swaymsg -t get_tree | jq "[.. | objects | select(.pid? == $program_pid)] | length"; }
dialog_open() { [ "$(windows_of_program)" = 1 ]; }
published_port() { "$here/testlan.sh" browse "$work/lan" | awk -F';' '/^=/ {print $9; exit}'; }
published_on() { [ "$(published_port)" = "$1" ]; }
port_saved() { grep -q "^Quillfen.proxyPort=$1" "$work/config/QuillfenMac.conf" 2>/dev/null; }
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
status_is() { grep -qF "$1" "$work/output.txt"; }

start_program
[ "$(property Title)" = '"Quillfen Mac 助手"' ] || fail "title: $(property Title)"
[ "$(property Menu)" = '"/MenuBar"' ] || fail "menu path: $(property Menu)"
[ "$(property IconName)" != '""' ] || [ "$(property IconPixmap | jq length)" -gt 0 ] || fail "no icon"
wait_until 200 status_is "可被 iPhone 发现" || fail "Charles was not published"
[ "$(property ToolTip | jq -r '.[2]')" = "可被 iPhone 发现 · Charles :8888" ] || fail "tooltip: $(property ToolTip)"
wait_until 100 published_on 8888 || fail "the phone does not see the service on 8888"
menu_lines | cut -f2- >"$work/menu.txt"
diff -u - "$work/menu.txt" <<'EOF' || fail "the menu as the host reads it"
item	Quillfen Mac 助手	false	
item	可被 iPhone 发现 · Charles :8888	false	
separator		true	
item	代理端口：8888…	true	Control+,
item	使用帮助	true	
separator		true	
item	退出 Quillfen Mac 助手	true	Control+Q
EOF
screenshot 1-waybar-tray

# The host's own menu on a right click, and its port line clicked; the port
# dialog typed into as a person would, and saved with Return.
click 10 15 3
sleep 1
screenshot 2-menu
click 100 99 1 # the port line, third in waybar's menu
wait_until 50 dialog_open || fail "the port line in waybar's menu did not open the port dialog"
sleep 0.5
screenshot 3-port-dialog
as_user wtype -s 300 65535 -k Return
wait_until 50 port_saved 65535 || fail "the port was not saved"
menu_lines | grep -q '代理端口：65535…' || fail "the port line does not show the new port"
wait_until 200 published_on 65535 || fail "the phone does not see the service on the new port"

# A left click on the icon (waybar calls Activate), and Activate itself: no window.
click 10 15 1
activate
sleep 1
[ "$(windows_of_program)" = 0 ] || fail "a left click opened a window"

# Quit: the program ends and the phone sees the service withdrawn.
choose 退出
wait_until 100 program_ended || fail "the quit line did not end the program"
wait "$job" || fail "the program ended with status $?"
wait_until 50 published_on "" || fail "the service is still published after quitting"

# Without Qt's Wayland plugin, even when the session asks for Wayland by name,
# the program comes up through XWayland with the same item.
bundle_program=$program
program="$work/no-wayland/Q.app/Contents/MacOS/QuillfenMac"
mkdir -p "$work/no-wayland/plugins/platforms" "${program%/*}"
cp "$bundle_program" "$program"
plugins=$(ls -d /usr/lib/*/qt6/plugins | head -n 1)
for p in "$plugins"/*; do case $p in */platforms | */wayland-*) ;; *) ln -s "$p" "$work/no-wayland/plugins/" ;; esac; done
for p in "$plugins"/platforms/*; do case $p in */libqwayland*) ;; *) ln -s "$p" "$work/no-wayland/plugins/platforms/" ;; esac; done
printf '[Paths]\nPlugins=%s\n' "$work/no-wayland/plugins" >"${program%/*}/qt.conf"
as_user swaymsg -q 'exec printenv DISPLAY >"$XDG_RUNTIME_DIR/display"'
wait_until 50 test -s "$work/runtime/display" || fail "sway has no XWayland display"
start_program DISPLAY="$(cat "$work/runtime/display")" QT_QPA_PLATFORM=wayland
status_is 'Could not find the Qt platform plugin "wayland"' || fail "the Wayland plugin was not hidden"
[ "$(property Title)" = '"Quillfen Mac 助手"' ] || fail "title through XWayland: $(property Title)"
activate
sleep 1
[ "$(windows_of_program)" = 0 ] || fail "a left click opened a window through XWayland"
choose 退出
wait_until 100 program_ended || fail "the quit line did not end the program through XWayland"
echo "screenshots in $out"
