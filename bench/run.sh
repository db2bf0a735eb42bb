#!/usr/bin/env bash
# Benchmarks, side by side in one run, printed as a table beside the figures
# of bench/baseline.txt (`make bench`, as root). Nothing here passes or fails:
# the figures go into docs/performance.md. BENCH_RESULTS=FILE also writes
# them as "name value" lines, the form of bench/baseline.txt.
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
hang_tool="$build/tests/tools/hang_tool"
cycle_bench="$build/bench/cycle_bench"

[ "$(id -u)" = 0 ] || { echo "bench needs root (network namespaces)" >&2; exit 1; }

work=$(mktemp -d /tmp/quillfen-bench.XXXXXX)
mkdir -m 700 "$work/run"
lan="$work/lan"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -d "$lan" ] && "$lan_tool" down "$lan" >/dev/null 2>&1 || true
    rm -rf -- "$work" "${walk:-}"
}
trap cleanup EXIT

now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
maximum() { sort -g | tail -n 1; }

"$lan_tool" up "$lan" $$ >/dev/null
mkdir -p "$work/config" "$work/Charles.app/Contents/MacOS"
cp "$proxy_tool" "$work/Charles.app/Contents/MacOS/Charles"
charles="$work/Charles.app/Contents/MacOS/Charles"
# Always run in the background or in a process substitution: it replaces
# the subshell, so $! is the program itself. The command-line copy keeps its
# single-copy lock apart from the tray's (whose XDG_RUNTIME_DIR is "$work").
on_mac() { exec "$lan_tool" exec "$lan" mac env XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" "$@"; }

declare -A result base
# The "name value" lines of cycle_bench; its status lines are skipped.
measure() { while read -r key value; do if [[ $key =~ ^[a-z0-9_]+$ ]]; then result[$key]=$value; fi; done; }
while read -r key value; do base[$key]=$value; done < <(grep -v '^#' "$here/baseline.txt" 2>/dev/null || true)
tray_env=(env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work/config-tray")
mkdir -p "$work/config-tray"

# 1. Unchanged cycles while published, against bare lsof runs at the same
# moment, in a command-line process and in a menu-bar one. The machine is
# first given time to settle: a process younger than 10 s (the test LAN's
# daemons, the stand-in) is read afresh every cycle.
on_mac "$charles" 8888 >/dev/null & charles_pid=$!; pids+=("$charles_pid")
sleep 11
measure < <(on_mac "$cycle_bench" published 150)
[ -x "$bundle_program" ] && measure < <(on_mac "${tray_env[@]}" "$cycle_bench" published 150 menubar 2>/dev/null)

# 2. The longest time the event loop stands still while lsof hangs and, once
# killed, stays unreaped for 20 s (its tracer waits for the lock on "hold").
: >"$work/hold"
flock "$work/hold" sleep 20 & pids+=("$!")
sleep 0.2
measure < <(on_mac unshare -m sh -c 'for p in /usr/sbin/lsof /usr/bin/lsof; do [ ! -e "$p" ] || mount --bind "$0" "$p"; done; exec "$@"' \
    "$hang_tool" env HANG_TOOL_HOLD="$work/hold" "$cycle_bench" blocked 12)
kill "$charles_pid"; wait "$charles_pid" 2>/dev/null || true

# 3. Cycles with no proxy among 400, then 800 processes started here, each
# given time to settle (a young process is read afresh every cycle).
for count in 400 800; do
    for _ in $(seq 400); do sleep 600 & pids+=("$!"); done
    sleep 11
    measure < <(on_mac "$cycle_bench" idle 200)
    result[idle_ms_$count]=${result[cycle_idle_ms]}
    result[processes_$count]=${result[processes]}
done
result[growth_us]=$(awk -v a="${result[idle_ms_400]}" -v b="${result[idle_ms_800]}" \
    -v m="${result[processes_400]}" -v n="${result[processes_800]}" 'BEGIN {printf "%.2f", (b - a) * 1000 / (n - m)}')
for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
wait 2>/dev/null || true
pids=()

# 3b. The process walk alone as an ordinary user (nobody, from a copy it can
# run) among 400 processes of its own, settled: an idle walk, the first walk
# that meets 400 new ones and the next (they are young then), and whether the
# answers equal a walk that knows nothing.
# Its own folder: "$work" stays 0700, as Qt wants the tray's runtime folder.
walk=$(mktemp -d /tmp/quillfen-walk.XXXXXX)
chmod 755 "$walk"
cp "$cycle_bench" "$walk/"
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$walk" XDG_RUNTIME_DIR="$walk")
for _ in $(seq 400); do "${as_nobody[@]}" sleep 600 & pids+=("$!"); done
sleep 11
measure < <(cd "$walk" && "${as_nobody[@]}" ./cycle_bench walk 200 400)
for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
wait 2>/dev/null || true
pids=()

# 4. From the port opening to the phone resolving the record, and from the
# proxy quitting to the phone seeing it go; resident memory of both modes
# after a few cycles and again after all of these.
on_mac "$program" --cli >"$work/status.txt" & cli_pid=$!; pids+=("$cli_pid")
if [ -x "$bundle_program" ]; then
    on_mac "${tray_env[@]}" "$bundle_program" >/dev/null 2>&1 & tray_pid=$!; pids+=("$tray_pid")
fi
rss() { [ -d "/proc/${1:-none}" ] && awk '/^VmRSS:/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"; }
# Through a named pipe, so that the browser's own pid is known and it can be
# ended (it would wait for a next line for ever).
mkfifo "$work/phone.fifo"
"$lan_tool" browse "$lan" -r -p -k _quillfen._tcp >"$work/phone.fifo" 2>/dev/null & pids+=("$!")
while IFS= read -r line; do printf '%s %s\n' "$(now)" "$line"; done <"$work/phone.fifo" >"$work/phone.txt" &
pids+=("$!")
sleep 7
result[rss_cli_start]=$(rss "$cli_pid")
result[rss_menubar_start]=$(rss "${tray_pid:-}")
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

result[rss_cli_end]=$(rss "$cli_pid")
result[rss_menubar_end]=$(rss "${tray_pid:-}")
result[appear_median]=$(printf '%s\n' "${appear[@]}" | median)
result[appear_max]=$(printf '%s\n' "${appear[@]}" | maximum)
result[vanish_median]=$(printf '%s\n' "${vanish[@]}" | median)
result[vanish_max]=$(printf '%s\n' "${vanish[@]}" | maximum)

row() { printf '%-58s %9s %9s  %s\n' "$1" "${result[$2]:-?}" "${base[$2]:--}" "$3"; }
printf '\n%-58s %9s %9s  %s\n' "measure" "value" "baseline" "goal"
row "CPU per published cycle, command-line mode (ms)" cycle_published_ms ""
row "  CPU per bare lsof run, same run (ms)" bare_lsof_ms ""
row "  ratio cycle / lsof" ratio "<= 1.05"
row "CPU per published cycle, menu-bar mode (ms)" cycle_published_ms_menubar ""
row "  CPU per bare lsof run, same run (ms)" bare_lsof_ms_menubar ""
row "  ratio cycle / lsof" ratio_menubar "<= 1.05"
row "CPU per cycle, no proxy, 400 started (ms; ${result[processes_400]:-?} processes)" idle_ms_400 "<= 3"
row "CPU per cycle, no proxy, 800 started (ms; ${result[processes_800]:-?} processes)" idle_ms_800 ""
row "  growth per further process (us)" growth_us "<= 5"
row "walk as a user, 400 own processes (ms; ${result[walk_processes]:-?} in all)" walk_idle_ms "<= 3"
row "  CPU per new process, the first walk that meets it (us)" walk_new_us "<= 40"
row "  CPU per young process, each later walk (us)" walk_young_us ""
row "  same answers as a walk that knows nothing" walk_same_answers "yes"
row "longest event-loop block, lsof hung and unreaped (s)" longest_block_s "<= 5.5"
row "resident memory, command-line mode, after 7 s (MiB)" rss_cli_start "<= 20"
row "  and after the runs below (MiB)" rss_cli_end "<= 20, no growth"
row "resident memory, menu-bar mode, after 7 s (MiB)" rss_menubar_start "<= 30"
row "  and after the runs below (MiB)" rss_menubar_end "<= 30, no growth"
row "port open -> phone resolves (s), median of $runs" appear_median "<= 2.6"
row "port open -> phone resolves (s), max" appear_max "<= 4.5"
row "proxy quits -> phone sees it go (s), median of $runs" vanish_median "<= 2.6"
row "proxy quits -> phone sees it go (s), max" vanish_max "<= 4.5"
printf '\nruns: appear %s; vanish %s\n' "${appear[*]}" "${vanish[*]}"
if [ -n "${BENCH_RESULTS:-}" ]; then
    for key in "${!result[@]}"; do printf '%s %s\n' "$key" "${result[$key]}"; done | sort >"$BENCH_RESULTS"
fi
