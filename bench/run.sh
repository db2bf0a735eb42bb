#!/usr/bin/env bash
# Benchmarks, side by side in one run, printed as a table (`make bench`, as
# root). Nothing here passes or fails: the figures go into docs/performance.md.
#
#   bench/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
lan_tool="$root/tests/support/testlan.sh"
program="$build/QuillfenMac"
bundle_program="$build/Quillfen Mac 助手.app/Contents/MacOS/QuillfenMac"
proxy_tool="$build/tests/tools/fake_proxy"
cycle_bench="$build/bench/cycle_bench"

[ "$(id -u)" = 0 ] || { echo "bench needs root (network namespaces)" >&2; exit 1; }

work=$(mktemp -d /tmp/quillfen-bench.XXXXXX)
lan="$work/lan"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -d "$lan" ] && "$lan_tool" down "$lan" >/dev/null 2>&1 || true
    rm -rf -- "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
median() { sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
maximum() { sort -g | tail -n 1; }

"$lan_tool" up "$lan" $$ >/dev/null
mkdir -p "$work/config" "$work/Charles.app/Contents/MacOS"
cp "$proxy_tool" "$work/Charles.app/Contents/MacOS/Charles"
charles="$work/Charles.app/Contents/MacOS/Charles"
# Always run in the background or in a process substitution: it replaces
# the subshell, so $! is the program itself.
on_mac() { exec "$lan_tool" exec "$lan" mac env XDG_CONFIG_HOME="$work/config" "$@"; }

declare -A result

# 1. One unchanged cycle while published, against a bare lsof at the same moment.
on_mac "$charles" 8888 >/dev/null & charles_pid=$!; pids+=("$charles_pid")
sleep 0.5
while read -r key value; do result[$key]=$value; done < <(on_mac "$cycle_bench" published 40)
kill "$charles_pid"; wait "$charles_pid" 2>/dev/null || true

# 2. One cycle with no proxy, among a few hundred processes.
for _ in $(seq 300); do sleep 600 & pids+=("$!"); done
while read -r key value; do result[$key]=$value; done < <(on_mac "$cycle_bench" idle 200)
for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
wait 2>/dev/null || true
pids=()

# 3. Resident memory of both modes, after a few cycles.
on_mac "$program" --cli >/dev/null & cli_pid=$!; pids+=("$cli_pid")
if [ -x "$bundle_program" ]; then
    on_mac env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$bundle_program" >/dev/null 2>&1 &
    tray_pid=$!; pids+=("$tray_pid")
fi
sleep 7
result[rss_cli_mib]=$(awk -v k="$(rss_kib "$cli_pid")" 'BEGIN {printf "%.1f", k / 1024}')
if [ -n "${tray_pid:-}" ] && [ -d "/proc/$tray_pid" ]; then
    result[rss_menubar_mib]=$(awk -v k="$(rss_kib "$tray_pid")" 'BEGIN {printf "%.1f", k / 1024}')
fi
kill "$cli_pid" ${tray_pid:+"$tray_pid"} 2>/dev/null || true
wait 2>/dev/null || true
pids=()

# 4. From the port opening to the phone resolving the record, and from the proxy
# quitting to the phone seeing it go.
on_mac "$program" --cli >"$work/status.txt" & cli_pid=$!; pids+=("$cli_pid")
"$lan_tool" browse "$lan" -r -p -k _quillfen._tcp 2>/dev/null |
    while IFS= read -r line; do printf '%s %s\n' "$(now)" "$line"; done >"$work/phone.txt" &
pids+=("$!")
sleep 2
name=""
appear=() vanish=()
for run in $(seq "$runs"); do
    # Start at a random point of the 3-second cycle.
    sleep "$(awk -v s="$RANDOM" 'BEGIN {printf "%.2f", 1 + (s % 300) / 100}')"
    before=$(wc -l <"$work/phone.txt")
    t0=$(now)
    on_mac "$charles" 8888 >/dev/null & charles_pid=$!
    for _ in $(seq 200); do
        [ -z "$name" ] && name=$(sed -n 's/^Quillfen\.machineID=\(........\).*/Quillfen-\1/p' "$work/config/QuillfenMac.conf" 2>/dev/null | head -n 1)
        t1=$(tail -n +"$((before + 1))" "$work/phone.txt" | awk -F';' -v n="$name" '$1 ~ /^[0-9.]+ =$/ && $4 == n {split($1, a, " "); print a[1]; exit}')
        [ -n "$t1" ] && break
        sleep 0.05
    done
    appear+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.2f", b - a}')")
    sleep 1
    before=$(wc -l <"$work/phone.txt")
    t2=$(now)
    kill "$charles_pid"; wait "$charles_pid" 2>/dev/null || true
    for _ in $(seq 200); do
        t3=$(tail -n +"$((before + 1))" "$work/phone.txt" | awk -F';' -v n="$name" '$1 ~ /^[0-9.]+ -$/ && $4 == n {split($1, a, " "); print a[1]; exit}')
        [ -n "$t3" ] && break
        sleep 0.05
    done
    vanish+=("$(awk -v a="$t2" -v b="$t3" 'BEGIN {printf "%.2f", b - a}')")
done

printf '\n%-52s %12s %s\n' "measure" "value" "goal"
printf '%-52s %12s %s\n' "CPU per cycle, published (ms)" "${result[cycle_published_ms]:-?}" ""
printf '%-52s %12s %s\n' "CPU per bare lsof run (ms)" "${result[bare_lsof_ms]:-?}" ""
printf '%-52s %12s %s\n' "  ratio cycle / lsof" "${result[ratio]:-?}" "<= 1.15"
printf '%-52s %12s %s\n' "CPU per cycle, no proxy (ms, ${result[processes]:-?} processes)" "${result[cycle_idle_ms]:-?}" "<= 3"
printf '%-52s %12s %s\n' "resident memory, command-line mode (MiB)" "${result[rss_cli_mib]:-?}" "<= 20"
printf '%-52s %12s %s\n' "resident memory, menu-bar mode (MiB)" "${result[rss_menubar_mib]:-?}" "<= 60"
printf '%-52s %12s %s\n' "port open -> phone resolves (s), median of $runs" "$(printf '%s\n' "${appear[@]}" | median)" "<= 2.6"
printf '%-52s %12s %s\n' "port open -> phone resolves (s), max" "$(printf '%s\n' "${appear[@]}" | maximum)" "<= 4.5"
printf '%-52s %12s %s\n' "proxy quits -> phone sees it go (s), median of $runs" "$(printf '%s\n' "${vanish[@]}" | median)" "<= 2.6"
printf '%-52s %12s %s\n' "proxy quits -> phone sees it go (s), max" "$(printf '%s\n' "${vanish[@]}" | maximum)" "<= 4.5"
printf '\nruns: appear %s; vanish %s\n' "${appear[*]}" "${vanish[*]}"
