#!/usr/bin/env bash
# 演示：在本机两个隔离的网络命名空间（“电脑”和“手机”）里完整走一遍。
# A walk through the program's main job inside a private test LAN: a stand-in
# Charles starts, the program publishes it, the phone side resolves the record,
# Charles quits, the phone sees it withdrawn. Everything is torn down at the end.
#
#   demo.sh [BUILD_DIR]      (as root)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
lan_tool="$root/tests/support/testlan.sh"
program="$build/QuillfenMac"
proxy_tool="$build/tests/tools/fake_proxy"

[ "$(id -u)" = 0 ] || { echo "演示需要 root 权限（用于创建网络命名空间）：sudo make demo" >&2; exit 1; }
[ -x "$program" ] && [ -x "$proxy_tool" ] || { echo "请先编译：make build" >&2; exit 1; }

work=$(mktemp -d /tmp/quillfen-demo.XXXXXX)
lan="$work/lan"
program_pid=""
proxy_pid=""

cleanup() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null || true
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    [ -d "$lan" ] && "$lan_tool" down "$lan" >/dev/null 2>&1 || true
    rm -rf -- "$work"
}
trap cleanup EXIT

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

# Waits until the program has printed a line containing $1 (at most $2 s).
wait_for_line() {
    local text="$1" seconds="$2" i
    for ((i = 0; i < seconds * 10; i++)); do
        grep -qF -- "$text" "$work/status.txt" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "（超时：${seconds} 秒内没有看到“$text”）" >&2
    return 1
}

# What the phone resolves right now.
phone_view() {
    local lines
    lines=$("$lan_tool" browse "$lan" -r -p -t -k _quillfen._tcp 2>/dev/null | grep '^=' || true)
    if [ -z "$lines" ]; then
        echo "  （手机上没有发现任何 _quillfen._tcp 服务）"
        return
    fi
    # =;interface;protocol;name;type;domain;host;address;port;txt
    printf '%s\n' "$lines" | while IFS=';' read -r _ iface proto name type domain host address port txt; do
        printf '  %s %s  实例：%s  主机：%s  地址：%s  端口：%s\n' "$iface" "$proto" "$name" "$host" "$address" "$port"
        printf '    TXT：%s\n' "$txt"
    done
}

say "搭建测试网络：mac（en0 192.0.2.10）与 phone（192.0.2.20），各自运行 avahi-daemon"
"$lan_tool" up "$lan" $$ >/dev/null
. "$lan/env"
echo "  命名空间：$QF_MAC_NS，$QF_PHONE_NS"

say "启动 QuillfenMac --cli（在 mac 一侧）"
mkdir -p "$work/config"
"$lan_tool" exec "$lan" mac env XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" "$program" --cli >"$work/status.txt" 2>&1 &
program_pid=$!
wait_for_line "等待 Charles 启动" 10
sed 's/^/  状态：/' "$work/status.txt"

say "启动模拟的 Charles（Charles.app，监听 8888 端口）"
mkdir -p "$work/Charles.app/Contents/MacOS"
cp "$proxy_tool" "$work/Charles.app/Contents/MacOS/Charles"
"$lan_tool" exec "$lan" mac "$work/Charles.app/Contents/MacOS/Charles" 8888 >/dev/null &
proxy_pid=$!
wait_for_line "可被 iPhone 发现" 20
sed 's/^/  状态：/' "$work/status.txt"

say "手机一侧（avahi-browse）解析到的服务"
machine_id=$(sed -n 's/^Quillfen\.machineID=//p' "$work/config/QuillfenMac.conf" | head -n 1)
echo "  本机标识：$machine_id"
phone_view

say "Charles 退出"
kill "$proxy_pid"
wait "$proxy_pid" 2>/dev/null || true
proxy_pid=""
wait_for_line "Charles 已关闭，等待重新启动。" 10
sed 's/^/  状态：/' "$work/status.txt"
sleep 1
say "手机一侧现在看到的服务"
phone_view

say "演示结束，正在清理"
