#!/usr/bin/env bash
# The tray companion on a real desktop brought up headless, with screenshots in
# OUT_DIR for a person to look at. Every desktop runs the same checks, in a
# session of its own (private mount and pid namespaces on the "mac" side of
# the test LAN, run as nobody with a home in the test's folder, its own
# session bus):
#   - started before any tray, the program opens its window, titled and
#     classed as the application; a second start gives way and brings it back;
#   - the tray comes up later: the icon takes over from the window;
#   - a real left click on the icon opens the menu (where the program draws
#     the menu itself, Escape and a click elsewhere close it again);
#   - the port typed into the dialog reaches the phone; the quit line ends the
#     program and frees its lock.
#
#   desktop.sh DESKTOP BUNDLE_EXECUTABLE FAKE_PROXY OUT_DIR     (as root)
#   DESKTOP: xembed (Xvfb, then trayer) | sway (then waybar) |
#            gnome, gnome-xwayland (GNOME Shell, then its AppIndicator
#            extension; the program on Wayland, on XWayland) |
#            plasma (KWin on Wayland, then Plasma's shell) |
#            plasma-x11 (Xvfb and KWin, then Plasma's shell and xembedsniproxy)
# Exit status 77 (skipped): a tool is missing, or not root.
set -euo pipefail

# The session's first process: its own /tmp (X sockets, lock files) and
# /run/systemd hidden (no logind); it lives until killed.
if [ "$1" = _init ]; then
    work=$2
    [ ! -d /run/systemd ] || mount -t tmpfs none /run/systemd
    mount -t tmpfs none /mnt && mkdir /mnt/work && mount --bind "$work" /mnt/work
    mount -t tmpfs -o mode=1777 none /tmp && mkdir -p "$work" && mount --move /mnt/work "$work"
    mkdir -m 1777 /tmp/.X11-unix
    touch "$work/ready"
    exec sleep infinity
fi
desktop=$1 bundle=$(cd "$(dirname "$2")/../.." && pwd) proxy=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
id=example.quillfen.mac name="Quillfen Mac 助手"
need() { for t; do command -v "$t" >/dev/null || { echo "missing $t" >&2; exit 77; }; done; }
[ "$(id -u)" = 0 ] || { echo "needs root: namespaces and a user of its own" >&2; exit 77; }
need ip unshare nsenter setpriv flock dbus-daemon dbus-monitor busctl jq convert
case $desktop in
    xembed) need Xvfb trayer xdotool xwininfo xprop import ;;
    sway) need sway swaymsg waybar grim wtype ;;
    gnome*) need gnome-shell gsettings ;;
    plasma) need kwin_wayland plasmashell kded5 spectacle ;;
    plasma-x11) need Xvfb kwin_x11 plasmashell kded5 xembedsniproxy xdotool xprop import ;;
    *) echo "no desktop $desktop" >&2; exit 2 ;;
esac

work=$(mktemp -d /tmp/quillfen-desktop.XXXXXX)
cleanup() {
    [ -z "${init-}" ] || kill -KILL "$init" 2>/dev/null || :
    wait 2>/dev/null || :
    [ ! -e "$work/lan/env" ] || "$here/testlan.sh" down "$work/lan"
    rm -rf -- "$work"
}
trap cleanup EXIT
# The program's own log in full (a sanitizer's report is long), the last lines of the others.
fail() { echo "FAILED ($desktop): $*" >&2; shot failure 2>/dev/null || :
    tail -n 5 "$work"/*.log >&2 || :; tail -n 60 "$work/program.log" >&2 || :; exit 1; }
# Waits until the command succeeds, for at most $1 seconds.
wait_until() { local end=$((SECONDS + $1)); until "${@:2}"; do ((SECONDS < end)) || return 1; sleep 0.1; done; }

# The user: nobody, whom every system has, so no account is made or left behind.
uid=$(id -u nobody) gid=$(id -g nobody)
home=$work/home run=$work/run
mkdir -p "$out" "$home/.config" "$home/.local/share/applications" "$run" "$work/Charles.app/Contents/MacOS"
chmod 755 "$work"
chmod 700 "$run"
# The bundle, and the desktop entry the desktop matches the windows to.
cp -r "$bundle" "$work/app.app"
program=$work/app.app/Contents/MacOS/QuillfenMac
sed -e "s|@QUILLFEN_BINDIR@/QuillfenMac|$program|" -e "s|@QUILLFEN_APP_ID@|$id|" \
    "$here/../../packaging/desktop-entry.desktop.in" >"$home/.local/share/applications/$id.desktop"
cp "$proxy" "$work/Charles.app/Contents/MacOS/Charles"
cp "$(dirname "$proxy")/wayland_input" "$work/"
chown -R "$uid:$gid" "$home" "$run" "$work/Charles.app"

"$here/testlan.sh" up "$work/lan" $$ >/dev/null
. "$work/lan/env"

ip netns exec "$QF_MAC_NS" unshare --mount --pid --fork --mount-proc --propagation private \
    bash "$0" _init "$work" </dev/null 2>/dev/null &
wait_until 5 test -e "$work/ready" || fail "no session"
init=$(pgrep -P $!)
# A command in the session, as the user; the sanitizer settings of a sanitized run pass through,
# with slow unwinding: Mesa's GL driver has no frame pointers and is unloaded before the leak
# report, so only a full stack shows whose memory a leak is. The user may not enter the checkout
# (a home folder of mode 700): the leak suppressions are read from a copy here.
sanitizer=($(env | grep -E '^(L|UB)SAN_OPTIONS=' || :) ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS:fast_unwind_on_malloc=0})
if [[ ${LSAN_OPTIONS-} == *suppressions=* ]]; then
    suppressions=${LSAN_OPTIONS#*suppressions=} suppressions=${suppressions%%:*}
    cp "$suppressions" "$work/lsan.supp"
    sanitizer=("${sanitizer[@]/suppressions=$suppressions/suppressions=$work/lsan.supp}")
fi
user=(nsenter -t "$init" -m -p -n --wd="$work" setpriv --reuid="$uid" --regid="$gid" --clear-groups
    env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$home" XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/.config"
    DBUS_SESSION_BUS_ADDRESS="unix:path=$run/bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$QF_LAN_DIR/mac/bus"
    "${sanitizer[@]}")
session_env=()
as_user() { "${user[@]}" "${session_env[@]}" "$@"; }
# No shell in between, which would report each process the end kills.
background() { "${user[@]}" "${session_env[@]}" "${@:2}" >"$work/$1.log" 2>&1 & }
call() { as_user busctl --user --json=short -- "$@"; }
background bus dbus-daemon --session --address="unix:path=$run/bus" --nofork --nopidfile
wait_until 5 test -S "$run/bus" || fail "no session bus"
# Every call a host makes to the program's exported menu, for menu_asked.
background monitor dbus-monitor "path=/MenuBar" "path=/StatusNotifierItem"

# Each desktop: up (without a tray), tray, shown (the icon in the tray), click
# [X Y] (a real left click on the icon, or there), menu (a menu is open),
# keys TEXT KEY..., windows (the program's: "CLASS-OR-APP-ID TITLE"), take FILE
# (a screenshot), and where the desktop closes windows, close_window.
hosts_menu=true program_env=()
menu_asked() { [ "$(grep -c 'member=\(AboutToShow\|Event\)' "$work/monitor.log")" -gt "$asked" ]; }

case $desktop in
xembed | plasma-x11)
    session_env=(DISPLAY=:5 XDG_SESSION_TYPE=x11)
    up() { background x Xvfb :5 -screen 0 1280x800x24 -nolisten tcp -noreset; wait_until 5 as_user xwininfo -root >/dev/null 2>&1; }
    # The pointer rests on the place before the click, as a hand's does.
    click() { as_user xdotool mousemove "${1:-$ix}" "${2:-$iy}" sleep 0.5 click 1; }
    keys() { as_user xdotool type --delay 100 "$1"; as_user xdotool key "${@:2}"; }
    windows() { local w; for w in $(as_user xdotool search --onlyvisible --name "^$name\$" 2>/dev/null); do
        echo "$(as_user xprop -id "$w" WM_CLASS | cut -d'"' -f2) $(as_user xdotool getwindowname "$w")"; done; }
    take() { as_user import -window root "$1"; }
    ;;&
xembed)
    hosts_menu=false
    tray() { background tray trayer --edge top --align right --widthtype request --height 32 --tint 0x303030; }
    # The icon: a window of the program's class inside the panel; its middle and lower edge.
    shown() { read -r ix iy bottom < <(as_user xwininfo -root -tree | awk -F'[ x+]+' -v c="(\"$id\" \"$id\")" '
        /"panel"/ {p = match($0, /[^ ]/); next} p && match($0, /[^ ]/) <= p {p = 0}
        p && index($0, c) {print int($(NF-1) + $(NF-5) / 2), int($NF + $(NF-4) / 2), $NF + $(NF-4); exit}') && [ -n "$bottom" ]; }
    # The program's own menu: its window furthest down, below the icon.
    menu() { [ "$(as_user xdotool search --onlyvisible --classname "$id" getwindowgeometry --shell %@ |
        awk -F= '$1 == "Y" && $2 > m {m = $2} END {print m + 0}')" -ge "$bottom" ]; }
    ;;
plasma-x11)
    session_env+=(QT_QPA_PLATFORM=xcb)
    up() { background x Xvfb :5 -screen 0 1280x800x24 -nolisten tcp -noreset && wait_until 5 as_user xwininfo -root >/dev/null 2>&1 &&
        background kwin kwin_x11 && wait_until 20 as_user xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1; }
    ;;
sway)
    session_env=(WAYLAND_DISPLAY=wayland-1 SWAYSOCK="$run/sway.sock")
    up() {
        printf 'output * resolution 800x500 bg #4a6073 solid_color\nxwayland enable\n' >"$work/sway.conf"
        mkdir -p "$home/.config/waybar"
        echo '{"layer": "top", "height": 30, "modules-left": ["tray"], "tray": {"icon-size": 22}}' \
            >"$home/.config/waybar/config"
        chown -R "$uid:$gid" "$home/.config"
        background sway env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$work/sway.conf"
        wait_until 10 as_user swaymsg -q -t get_version 2>/dev/null &&
            as_user swaymsg -q 'exec printenv DISPLAY >"$XDG_RUNTIME_DIR/display"' && wait_until 5 test -s "$run/display"
    }
    tray() { background tray waybar; }
    # waybar's first tray icon, drawn: more than a few colours where it lies.
    shown() { shot tray-check && [ "$(convert "$out/tray-check.png" -crop 22x22+4+4 -format %k info:)" -gt 4 ]; }
    click() { as_user "$work/wayland_input" move "${1:-15}" "${2:-15}" 800 500 click 272; }
    menu() { menu_asked; }
    keys() { local k=() key; for key in "${@:2}"; do k+=(-k "$key"); done; as_user wtype -s 300 -d 100 "$1" "${k[@]}"; }
    windows() { as_user swaymsg -t get_tree | jq -r '.. | objects | select(.app_id? and .visible) | "\(.app_id) \(.name)"'; }
    close_window() { as_user swaymsg -q "[app_id=$id] kill"; }
    take() { as_user grim "$1"; }
    ;;
gnome | gnome-xwayland)
    [ "$desktop" = gnome ] || program_env=(QT_QPA_PLATFORM=xcb)
    extensions() { as_user gsettings set org.gnome.shell enabled-extensions "['unsafe@quillfen'$1]"; }
    # GNOME Shell's Eval: the value of the last expression as JSON.
    js() { call call org.gnome.Shell /org/gnome/Shell org.gnome.Shell Eval s "const {Clutter, GLib, Shell} = imports.gi; $1" |
        jq -re 'select(.data[0]) | .data[1]'; }
    # Input devices, made once and early: a device's first events are lost while the seat takes it up.
    device() { echo "(globalThis.qf$1 ??= Clutter.get_default_backend().get_default_seat().create_virtual_device(Clutter.InputDeviceType.$1_DEVICE))"; }
    pointer=$(device POINTER) keyboard=$(device KEYBOARD)
    up() {
        local unsafe=$home/.local/share/gnome-shell/extensions/unsafe@quillfen
        mkdir -p "$unsafe"
        echo '{"uuid": "unsafe@quillfen", "name": "unsafe", "description": "Eval for tests", "shell-version": ["43"]}' >"$unsafe/metadata.json"
        echo 'function init() {} function enable() { global.context.unsafe_mode = true; } function disable() {}' >"$unsafe/extension.js"
        chown -R "$uid:$gid" "$home"
        extensions ''
        session_env=(WAYLAND_DISPLAY=qf-wayland)
        background shell gnome-shell --headless --wayland --virtual-monitor 1280x800 --wayland-display qf-wayland
        wait_until 30 eval '[ "$(js Main.layoutManager._startingUp 2>/dev/null)" = false ]' || return 1
        # XWayland, for the program on X11: the shell's display and its key.
        read -r display xauthority < <(js "Main.overview.hide(); $pointer; $keyboard;
            GLib.getenv('DISPLAY') + ' ' + GLib.getenv('XAUTHORITY')" | jq -r .)
        session_env+=(DISPLAY="$display" XAUTHORITY="$xauthority")
    }
    tray() { extensions ", 'ubuntu-appindicators@ubuntu.com'"; }
    indicator="Object.values(Main.panel.statusArea).find(v => v?._indicator?.id === '$id')"
    # The program's own symbolic icon, on the panel.
    shown() { [ "$(js "$indicator?._icon.gicon?.to_string().includes('/$id-symbolic.svg')")" = true ]; }
    click() { js "const [x, y] = ${1:+[$1 - 10, $2 - 10] || }$indicator.get_transformed_position(), t = GLib.get_monotonic_time();
        $pointer.notify_absolute_motion(t, x + 10, y + 10);
        $pointer.notify_button(t + 20000, 1, Clutter.ButtonState.PRESSED);
        $pointer.notify_button(t + 40000, 1, Clutter.ButtonState.RELEASED)" >/dev/null; }
    menu() { [ "$(js "$indicator.menu.isOpen")" = true ]; }
    keys() { js "const k = $keyboard; let t = GLib.get_monotonic_time();
        for (const v of [...'$1'].map(c => Clutter.unicode_to_keysym(c.charCodeAt(0))).concat([$(printf 'Clutter.KEY_%s,' "${@:2}")]))
            for (const s of [Clutter.KeyState.PRESSED, Clutter.KeyState.RELEASED]) k.notify_keyval(t += 30000, v, s);" >/dev/null; }
    # The window's class and the desktop entry GNOME matched it to.
    ours="global.get_window_actors().map(a => a.meta_window).filter(w => w.get_wm_class() === '$id')"
    windows() { js "$ours.map(w => Shell.WindowTracker.get_default().get_window_app(w).get_id() + ' ' + w.get_title()).join('\n')" | jq -r .; }
    close_window() { js "$ours.forEach(w => w.delete(global.get_current_time()))" >/dev/null; }
    take() { call call org.gnome.Shell /org/gnome/Shell/Screenshot org.gnome.Shell.Screenshot Screenshot bbs false false "$1" >/dev/null; }
    ;;
plasma)
    session_env=(WAYLAND_DISPLAY=qf-wayland QT_QPA_PLATFORM=wayland XDG_SESSION_TYPE=wayland)
    up() {
        # A copy without kwin_wayland's file capability, which exec here refuses.
        cp "$(command -v kwin_wayland)" "$work/kwin_wayland"
        background kwin env KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 "$work/kwin_wayland" --virtual --width 1280 \
            --height 800 --socket qf-wayland --no-lockscreen
        wait_until 20 eval 'call call org.freedesktop.DBus / org.freedesktop.DBus NameHasOwner s org.kde.KWin | grep -q true'
    }
    click() { as_user "$work/wayland_input" move "${1:-$ix}" "${2:-$iy}" 1280 800 click 272; }
    keys() { local c codes=(); for c in $(grep -o . <<<"$1"); do codes+=(key $(((c + 9) % 10 + 2))); done
        as_user "$work/wayland_input" "${codes[@]}" $(printf 'key %s ' "${@:2}" | sed 's/Return/28/; s/Escape/1/'); }
    # KWin's scripting: what a script prints lands in KWin's log.
    kwin() { local mark=qf$RANDOM
        echo "print('$mark\n' + workspace.clientList().filter(c => c.resourceClass == '$id').map(c => $1).join('\n'))" >"$run/$mark.js"
        call call org.kde.KWin /Scripting org.kde.kwin.Scripting loadScript ss "$run/$mark.js" "$mark" >/dev/null
        call call org.kde.KWin /Scripting org.kde.kwin.Scripting start >/dev/null
        wait_until 5 grep -q "^js: $mark" "$work/kwin.log"; sleep 0.2
        sed -n "/^js: $mark\$/,/^js: qf/{/^js: qf/d;p}" "$work/kwin.log"; }
    windows() { kwin "c.resourceClass + ' ' + c.caption"; }
    close_window() { kwin "c.closeWindow()" >/dev/null; }
    take() { as_user spectacle -b -n -f -o "$1" >/dev/null 2>&1; }
    ;;
esac
case $desktop in
plasma*)
    session_env+=(XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5)
    # The tray is Plasma's shell with kded's StatusNotifier watcher (which
    # claims a host from the start, so a session starts it just before the
    # shell), and on X11 the proxy that shows XEmbed icons.
    tray() {
        as_user dbus-update-activation-environment "${session_env[@]}"
        background kded kded5
        background tray plasmashell --no-respawn
        [ "$desktop" = plasma ] || background xembed xembedsniproxy
    }
    # The tray's first item, drawn, at the panel's right end.
    ix=1072 iy=779
    shown() { shot tray-check && [ "$(convert "$out/tray-check.png" -crop 16x16+1064+771 -format %k info:)" -gt 4 ]; }
    menu() { menu_asked; }
    ;;
esac

# Screenshots are taken as the user, who may not reach OUT_DIR.
shot() { take "$run/shot.png" && cat "$run/shot.png" >"$out/$1.png"; }
# What the program says, what the phone sees.
start_program() { background program "${program_env[@]}" "$program"; job=$!; }
ended() { ! kill -0 "$job" 2>/dev/null; }
published_on() { [ "$("$here/testlan.sh" browse "$work/lan" | awk -F';' '/^=/ {print $9; exit}')" = "$1" ]; }
window_is() { [ "$(windows)" = "$1" ]; }
# A line of the menu, chosen as the host sends it (or by keys in the program's own menu).
choose() {
    if $hosts_menu; then
        local item line
        item=$(call call org.freedesktop.DBus / org.freedesktop.DBus ListNames | jq -r '.data[0][] | select(startswith("org.kde.StatusNotifierItem"))')
        line=$(call call "$item" /MenuBar com.canonical.dbusmenu GetLayout iias 0 -1 0 |
            jq --arg l "$1" '.data[1][2][].data | select(.[1].label.data // "" | startswith($l)) | .[0]')
        call call "$item" /MenuBar com.canonical.dbusmenu Event isvu "$line" clicked i 0 0 >/dev/null
    else
        click && wait_until 5 menu && as_user xdotool key "${@:2}"
    fi
}

up || fail "the desktop did not come up: $(tail -n 5 "$work"/*.log)"
background charles "$work/Charles.app/Contents/MacOS/Charles" 8888 65535
start_program
# No tray: the window, the application's by class or app id, after a few seconds.
[[ $desktop == gnome* ]] && class=$id.desktop || class=$id
wait_until 15 window_is "$class $name" || fail "no window of the program's own: $(windows)"
shot no-tray-window
if declare -F close_window >/dev/null; then
    close_window
    wait_until 5 window_is "" || fail "the window did not close"
fi
# On sway, the second asks for Wayland where none answers, and gets XWayland.
[ "$desktop" != sway ] || program_env=(QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=nowhere DISPLAY="$(cat "$run/display")")
as_user "${program_env[@]}" "$program" >"$work/second.out" 2>&1 || fail "a second start ended with status $?"
grep -qx "$name已在运行。" "$work/second.out" || fail "a second start said: $(cat "$work/second.out")"
wait_until 5 window_is "$class $name" || fail "a second start did not bring the window back"

# The tray arrives: the icon replaces the window.
tray
wait_until 30 shown || fail "no icon once the tray is there"
wait_until 5 window_is "" || fail "the window stayed: $(windows)"
shot icon
asked=$(grep -c 'member=\(AboutToShow\|Event\)' "$work/monitor.log" || :)
click
wait_until 5 menu || fail "a left click opened no menu"
sleep 0.5
shot menu
# The program's own menu closes on Escape and on a click elsewhere; a host's
# menu holds the keyboard until it closes, also on a click elsewhere.
if ! $hosts_menu; then
    as_user xdotool key Escape
    wait_until 3 eval '! menu' || fail "Escape did not close the menu"
    click && wait_until 5 menu || fail "the menu did not open again"
fi
click 400 400
sleep 0.5
$hosts_menu || ! menu || fail "a click elsewhere did not close the menu"

# The port typed into the dialog, as a person does, reaches the phone.
wait_until 20 published_on 8888 || fail "the phone does not see the service"
choose 代理端口 Down Return
wait_until 5 window_is "$class $name" || fail "the port line opened no dialog: $(windows)"
sleep 0.5
shot port-dialog
keys 65535 Return
wait_until 20 published_on 65535 || fail "the phone does not see the service on the new port"
choose 退出 Up Return
wait_until 10 ended || fail "the quit line did not end the program"
wait "$job" || fail "the program ended with status $?"
flock -n "$run/QuillfenMac.lock" true || fail "the single-copy lock is still held"
