#!/usr/bin/env bash
# The tray companion in a real X session: a virtual display (Xvfb) with a
# system tray (trayer) that appears only after the program has started. Starts
# the bundle's executable, opens the tray menu and
# the port dialog, saves a port through it, quits from the menu, and keeps a
# screenshot of each step in OUT_DIR for a person to look at.
#
#   tray_screenshots.sh BUNDLE_EXECUTABLE OUT_DIR
# Exit status 77: Xvfb, trayer or xdotool is missing (the test is skipped).
set -euo pipefail

program=$1
out=$2
. "$(dirname "$0")/tray_session.sh"
need_tools Xvfb trayer xdotool xwininfo xprop import convert
mkdir -p "$out"
mkdir -m 700 "$work/runtime"
screenshot() { import -display "$DISPLAY" -window root "$out/$1.png"; }

# A display number nobody uses.
for n in $(seq 90 130); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 & pids+=("$!")
wait_until 50 xwininfo -root >/dev/null 2>&1 || fail "Xvfb did not start"

# No session bus (so Qt uses the XEmbed tray that trayer offers) and no
# system bus (so nothing can be published from here).
env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORM LANG=C.UTF-8 \
    XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work" \
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus" \
    "$program" >"$work/output.txt" 2>&1 & program_pid=$!; pids+=("$program_pid")

# No tray yet: the program says so once and keeps running; the icon comes
# when the tray does.
wait_until 100 grep -q "未找到系统托盘" "$work/output.txt" || fail "no word about the missing tray"
trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false --tint 0x303030 >/dev/null 2>&1 & pids+=("$!")
wait_until 50 sh -c 'xwininfo -root -tree | grep -q "\"panel\""' || fail "trayer did not start"

# The icon: a window of the program's class embedded in the panel.
icon_geometry() {
    xwininfo -root -tree | awk '/"panel"/ {inpanel = 1} inpanel && /\("QuillfenMac" / {print $(NF-1), $NF; exit}'
}
wait_until 150 sh -c "xwininfo -root -tree | awk '/\"panel\"/ {p=1} p && /QuillfenMac/ {f=1} END {exit !f}'" ||
    fail "no tray icon after the tray appeared"
[ "$(grep -c "未找到系统托盘" "$work/output.txt")" = 1 ] || fail "the missing tray was reported more than once"
read -r size position < <(icon_geometry)
icon_x=$(echo "$position" | awk -F+ '{print $2}')
icon_y=$(echo "$position" | awk -F+ '{print $3}')
size=${size%%+*}
icon_w=${size%x*}
icon_h=${size#*x}
[ "$icon_w" -ge 16 ] && [ "$icon_h" -ge 16 ] || fail "icon too small: $size"
sleep 0.5
import -window root "$out/1-tray.png"
# The icon is drawn: its area holds more than the panel's flat colour.
colours=$(convert "$out/1-tray.png" -crop "${icon_w}x${icon_h}+${icon_x}+${icon_y}" -format %k info:)
[ "$colours" -gt 4 ] || fail "the icon area is blank ($colours colours)"


# Visible windows of the program with that window type (DIALOG, NORMAL).
window_of_type() {
    local w
    for w in $(xdotool search --onlyvisible --classname QuillfenMac 2>/dev/null); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q "_NET_WM_WINDOW_TYPE_$1" && return 0
    done
    return 1
}
dialog_present() { window_of_type DIALOG; }
# The menu: an override-redirect window that is not the embedded icon.
menu_open() {
    local w
    for w in $(xdotool search --onlyvisible --classname QuillfenMac 2>/dev/null); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE\|DIALOG" && continue
        xwininfo -id "$w" 2>/dev/null | grep -q "Override Redirect State: yes" && return 0
    done
    return 1
}

# The menu (right click), then the port line by keyboard: Down selects the
# first enabled entry.
xdotool mousemove $((icon_x + icon_w / 2)) $((icon_y + icon_h / 2)) click 3
wait_until 50 menu_open || fail "the menu did not open"
sleep 0.3
import -window root "$out/2-menu.png"
xdotool key Down Return

wait_until 50 dialog_present || fail "the port dialog did not open"
sleep 0.3
import -window root "$out/3-port-dialog.png"
# The current port is selected: typing replaces it.
xdotool type --delay 20 65535
xdotool key Return
wait_until 50 sh -c "grep -q '^Quillfen.proxyPort=65535' '$work/QuillfenMac.conf' 2>/dev/null" ||
    fail "the port was not saved"

# The menu again, by a left click this time: the port line shows the new
# port. Up wraps to the quit line.
xdotool mousemove $((icon_x + icon_w / 2)) $((icon_y + icon_h / 2)) click 1
wait_until 50 menu_open || fail "a left click did not open the menu"
sleep 0.3
import -window root "$out/4-menu-after-save.png"
xdotool key Up Return
wait_until 50 sh -c "! kill -0 $program_pid 2>/dev/null" || fail "quitting from the menu did not end the program"
wait "$program_pid" || fail "the program ended with status $?"
[ ! -e "$work/runtime/QuillfenMac.lock" ] || fail "the single-copy lock was left behind"
grep -q "等待 Charles 启动" "$work/output.txt" || fail "no status line"
echo "screenshots in $out"
