#!/usr/bin/env bash
# What real machines do to the program, in the test LAN (tests/support/testlan.sh):
# the whole program (QuillfenMac --cli) or the publisher alone
# (tests/tools/publisher_tool, on the backend named) on the mac side, beside stand-in proxies, looked
# at by the phone's avahi-browse. Each scenario is a table of steps:
#
#   step ACTION SAID SEEN
#
# ACTION is shell code. SAID is a pattern for everything the program (or the
# tool) says after it, its lines joined by "|". SEEN, unless empty, is a
# pattern that every line a fresh look on the phone finds for the instance
# $name must match: "PROTOCOL HOST PORT TXT", the TXT field as avahi-browse
# prints it (last string first), @id@ standing for the stored machine id; "-"
# when nothing is found; "mac:..." to look on the mac side instead. Both are
# waited for. Patterns are those of bash's [[ == ]], extended globs included.
#
#   scenarios.sh BUILD_DIR SCENARIO BACKEND   (as root; exit status 77: cannot run here)
#
# BACKEND is the publisher's: avahi or dnssd (the dns_sd.h API), the build's own
# for the whole program.
# shellcheck disable=SC2016 # actions are expanded when they run
set -euo pipefail

build=$1 backend=$3
lan_tool="$(cd "$(dirname "$0")/.." && pwd)/support/testlan.sh"
[ "$(id -u)" = 0 ] || { echo "the test LAN needs root" >&2; exit 77; }
for program in ip unshare dbus-daemon avahi-daemon avahi-browse avahi-publish; do
    command -v "$program" >/dev/null || { echo "the test LAN needs $program" >&2; exit 77; }
done
work=$(mktemp -d /tmp/quillfen-lan.XXXXXX)
lan="$work/lan" config="$work/QuillfenMac.conf" said=program mark=0 name="" id=""
trap '"$lan_tool" down "$lan" >/dev/null 2>&1 || true; rm -rf -- "$work"' EXIT
: >"$work/program.out"

# Actions.
# Starts CMD on SIDE in the background as WHO (output in $work/WHO.out, .err).
start() {
    "$lan_tool" exec "$lan" "$2" env XDG_CONFIG_HOME="$work" XDG_RUNTIME_DIR="$work" "${@:3}" <"${input:-/dev/null}" >"$work/$1.out" 2>"$work/$1.err" &
    echo $! >"$work/$1.pid"
}
stop() { kill -"${2:-TERM}" "$(cat "$work/$1.pid")"; wait "$(cat "$work/$1.pid")" 2>/dev/null || true; }
program() { start program mac "$build/QuillfenMac" "$@"; said=program mark=0; }
# One more copy for the same user while the program runs: it says so and ends with 3.
second_copy() {
    start second mac timeout 10 "$build/QuillfenMac" "$@"
    local status=0; wait "$(cat "$work/second.pid")" || status=$?
    [ "$status" = 3 ] && grep -qxF "Quillfen Mac 助手已在运行（菜单栏或命令行模式），这一份不发布，退出。" "$work/second.err"
}
publisher() {
    mkfifo "$work/in" && exec 3<>"$work/in"
    input="$work/in" start publisher mac "$build/tests/tools/publisher_tool" "$backend" "$@"
    said=publisher mark=0
}
send() { printf '%s\n' "$@" >&3; }
# A stand-in proxy, WHO, listening on PORT from FOLDER/Contents/MacOS/Charles.
proxy() {
    mkdir -p "$work/$2/Contents/MacOS" && cp "$build/tests/tools/fake_proxy" "$work/$2/Contents/MacOS/Charles"
    start "$1" mac "$work/$2/Contents/MacOS/Charles" "$3"
}
daemon() { "$lan_tool" "$1-daemon" "$lan" mac ${2:+"$2"}; }
mac() { "$lan_tool" exec "$lan" mac "$@"; }

# Expectations.
publishing() { echo "正在发布设备发现信息 · Charles :$1"; }
published() { echo "可被 iPhone 发现 · Charles :$1"; }
# What each backend reports: avahi-client's error codes, or NSNetService's for
# the dns_sd.h API, under the keys and domain each uses. avahi's compatibility
# library registers a service again by itself when the daemon's host name
# changes, so nothing is said then ($host_changed empty) and the services live
# on ($live_after: those the publisher scenario still has when the daemon goes).
case $backend in
avahi) code_key=errorCode domain=1 no_daemon=-26 gone=-23 taken=-8 timed_out=-15 host_changed=-2 live_after='12' ;;
dnssd) code_key=NSNetServicesErrorCode domain=10 no_daemon=-72000 gone=-72000 taken=-72001 timed_out=-72007 host_changed='' live_after='3 6 9 12' ;;
*) echo "no such backend: $backend" >&2; exit 2 ;;
esac
each_failed() { local code=$1; shift; printf "%s failed $code\n" "$@" | paste -sd'|'; }
fails() { echo "设备发现发布失败，请检查本地网络权限（\\[\"$code_key\": $1, \"${code_key%Code}Domain\": $domain\\]）"; }
waiting='等待 Charles 启动' quit='Charles 已关闭，等待重新启动。' no_address='未找到可用的 Wi-Fi 或有线地址'
routable=192.0.2.10,2001:db8::10
# The phone uses the port and the TXT record; the host label is avahi's. avahi
# 0.8 renames the mac qf-mac-2 (and so on) when its own probe comes back while
# addresses change under it, as on real networks: it takes the probe for
# another host's.
record() { echo "IPv? qf-mac?(-+([0-9])).local $1 \"addresses=$2\" \"version=1\" \"name=qf-mac\" \"id=@id@\""; }

# Runs CHECK until it succeeds, for at most 30 s.
eventually() { for _ in $(seq 60); do "$@" && return 0; sleep 0.5; done; return 1; }
said_matches() {
    next_mark=$(wc -l <"$work/$said.out")
    # The publisher's services answer in no set order among themselves: by number.
    got=$(head -n "$next_mark" "$work/$said.out" | tail -n +"$((mark + 1))" |
        if [ "$said" = publisher ]; then sort -s -n -k1,1; else cat; fi | paste -sd'|')
    # shellcheck disable=SC2053 # a pattern
    [[ $got == $1 ]]
}
# Every line a fresh look finds for $name matches the pattern ("-": nothing found).
seen_matches() {
    local side=phone want=${1//@id@/$id} line kind protocol instance host port txt
    [[ $want == mac:* ]] && side=mac want=${want#mac:}
    seen=$("$lan_tool" exec "$lan" "$side" avahi-browse -r -p -t -k _quillfen._tcp 2>/dev/null |
        while IFS=';' read -r kind _ protocol instance _ _ host _ port txt; do
            [ "$kind" = = ] && [ "$instance" = "$name" ] && echo "$protocol $host $port $txt"
        done || true)
    [ "$want" = - ] && { [ -z "$seen" ]; return; }
    [ -n "$seen" ] || return 1
    while IFS= read -r line; do
        # shellcheck disable=SC2053 # a pattern
        [[ $line == $want ]] || return 1
    done <<<"$seen"
}
fail() { printf 'FAIL: %s\n--- %s said:\n' "$1" "$said" >&2; cat "$work/$said.out" "$work/$said.err" >&2; exit 1; }
step() {
    echo "$(date +%T.%N | cut -c1-12) step: $1"
    eval "$1" || fail "the action failed: $1"
    eventually said_matches "$2" || fail "after: $1"$'\n'"said:     $got"$'\n'"expected: $2"
    mark=$next_mark
    id=$(sed -n 's/^Quillfen\.machineID=//p' "$config" 2>/dev/null || true)
    [ -n "$name" ] || [ -z "$id" ] || name="Quillfen-${id:0:8}"
    [ -z "$3" ] || eventually seen_matches "$3" || fail "after: $1"$'\n'"found for $name:"$'\n'"$seen"$'\n'"expected: $3"
}

# The whole program. A stand-in started some other way (another folder, a
# launcher script) is one more row: `start WHO mac COMMAND...`, then `stop WHO`.
# Last, Charles 4 as its .deb starts it: /usr/bin/charles, a bash script, runs
# the Java VM as a child without exec and stays, with the lower pid.
scenario_Program() {
    local lib=/usr/lib/charles-proxy
    echo "$build/tests/tools/fake_proxy --as 9999 $lib/jdk/bin/java -Xmx1024M -Dcharles.config=~/.charles.config" \
        "-Djava.library.path=$lib -jar $lib/charles.jar" >"$work/charles"
    step 'program --cli'                                    "$waiting"                             -
    step 'proxy impostor Proxy.app 8888; sleep 4'           ''                                     -
    step 'stop impostor; proxy charles Charles.app 8888'    "$(publishing 8888)|$(published 8888)" "$(record 8888 $routable)"
    step 'second_copy --port 9999'                          ''                                     "$(record 8888 $routable)"
    step 'stop charles KILL'                                "$quit"                                -
    step 'proxy charles Charles.app 8888'                   "$(publishing 8888)|$(published 8888)" "$(record 8888 $routable)"
    step 'stop program KILL'                                ''                                     -
    step 'stop charles; program --port 9999'                "$waiting"                             -
    step 'proxy charles Charles.app 9999'                   "$(publishing 9999)|$(published 9999)" "$(record 9999 $routable)"
    step 'stop charles; sleep 4'                            "$quit"                                -
    step 'start charles mac bash -e "$work/charles"'        "$(publishing 9999)|$(published 9999)" "$(record 9999 $routable)"
    step 'kill -0 "$(cat "$work/charles.pid")" && stop charles' "$quit"                            -
}

scenario_Daemon() {
    step 'daemon kill TERM; proxy charles Charles.app 8888; program --cli' "$(publishing 8888)|$(fails $no_daemon)*" -
    step 'daemon start'                                     "*$(published 8888)"                   "$(record 8888 $routable)"
    # Gone again: the client is made anew and says so on every cycle until the daemon is back.
    step 'daemon kill'                                      "$(fails $gone)|$(publishing 8888)|$(fails $no_daemon)*" ''
    step 'daemon start'                                     "*$(published 8888)"                   "mac:$(record 8888 $routable)"
    # The daemon's host name changes under the published service.
    step 'mac avahi-set-host-name qf-mac2'                  "${host_changed:+$(fails $host_changed)|*$(published 8888)}" 'IPv? qf-mac2.local 8888 *'
}

scenario_Addresses() {
    local republished
    republished="$(publishing 8888)|*$(published 8888)"
    step 'proxy charles Charles.app 8888; program --cli'    "$republished"                         "$(record 8888 $routable)"
    step 'mac ip addr add 198.51.100.7/24 dev en0'          "$republished"                         "$(record 8888 192.0.2.10,198.51.100.7,2001:db8::10)"
    step 'mac ip addr del 198.51.100.7/24 dev en0'          "$republished"                         "$(record 8888 $routable)"
    # The mac has no IPv4 left to say goodbye over: the phone keeps what it heard over IPv4.
    step 'mac ip addr flush dev en0 scope global'           "$republished"                         "@(IPv4 *|$(record 8888 fe80::ff:fe00:10))"
    step 'mac ip link set en0 down'                         "$no_address"                          mac:-
    step 'mac sh -c "ip link set en0 up && ip addr add 192.0.2.10/24 dev en0 && ip addr add 2001:db8::10/64 dev en0"' \
                                                            "$republished"                         "$(record 8888 $routable)"
}

# Another machine holds our instance name (a copied preferences file carries the id along).
scenario_NameHeld() {
    name=Quillfen-C0111DE0
    step 'printf "[General]\nQuillfen.machineID=C0111DE0-0000-4000-8000-000000000001\n" >"$config"
          start holder phone avahi-publish -s $name _quillfen._tcp 7777 x=other' \
                                                            ''                                     'mac:IPv? qf-phone.local 7777 "x=other"'
    step 'proxy charles Charles.app 8888; program --cli; sleep 7' \
                                                            "$(publishing 8888)|$(fails $taken)!(*$(published 8888)*)" 'IPv? qf-phone.local 7777 "x=other"'
    step 'stop holder'                                      "*$(published 8888)"                   "$(record 8888 $routable)"
}

# The publisher alone.
scenario_Publisher() {
    publisher
    # A failed service destroyed before its event comes says nothing.
    step 'daemon kill; send "publish Quillfen-D0000000 8888" drop "publish Quillfen-D0000001 8888"' "2 failed $no_daemon" ''
    # The client notices the daemon from the event loop.
    step 'daemon start; sleep 2; name=Quillfen-D0000002; send "publish $name 8888"' '3 published'  'IPv? qf-mac.local 8888 *'
    step 'name=Quillfen-1234ABCD; send "publish $name 8888 id=1234ABCD name=Lab-Mac version=1"' \
                                                            '4 published'                          'IPv? qf-mac.local 8888 "version=1" "name=Lab-Mac" "id=1234ABCD"'
    step 'send stop'                                        ''                                     -
    step 'name=Quillfen-E5CA9E00; send "publish $name 8888 name=Jürgen\"s;a\\b empty= flag"' \
                                                            '5 published'                          'IPv? qf-mac.local 8888 "flag" "empty=" "name=J\\195\\188rgen\\"s;a\\\\b"'
    step 'send drop'                                        ''                                     -
    step 'name=Quillfen-00000000; send "publish $name 9999"' '6 published'                         'IPv? qf-mac.local 9999 '
    # Withdrawn while the daemon still probes: nothing ever shows.
    step 'name=Quillfen-570P5700; send "publish $name 8888" stop "publish $name 8888" drop; sleep 3' \
                                                            ''                                     -
    # A name this daemon holds already, on another port (equal records would merely be shared).
    step 'name=Quillfen-C0111DE1; send "publish $name 8888"' '9 published'                         ''
    step 'send "publish $name 9999"; sleep 1'               "10 failed $taken"                     'IPv? qf-mac.local 8888 *'
    # One the phone holds.
    step 'name=Quillfen-C0111DE0; start holder phone avahi-publish -s $name _quillfen._tcp 7777 x=phone' '' 'mac:IPv? *7777*'
    step 'send "publish $name 9999"'                        "11 failed $taken"                     ''
    # The daemon's host name changes under the live services; publishing goes on under the new one.
    step 'mac avahi-set-host-name qf-mac2'                  "${host_changed:+$(each_failed "$host_changed" 3 6 9)}" ''
    step 'name=Quillfen-4057C4A6; send "publish $name 8888"' '12 published'                        'IPv? qf-mac2.local 8888 '
    # Gone: every live service hears of it.
    step 'daemon kill'                                      "$(each_failed $gone $live_after)" ''
}

scenario_PublisherTimeout() {
    publisher 500
    # Probing takes the daemon most of a second; frozen, it never ends.
    step 'send "publish Quillfen-71E00000 8888" "run kill -STOP $(cat "$lan/mac/avahi.pid")"' "1 failed $timed_out" ''
    step 'kill -CONT "$(cat "$lan/mac/avahi.pid")"; sleep 2' ''                                     ''
}


"$lan_tool" up "$lan" $$ >/dev/null
"scenario_$2"
if [ "$said" = publisher ]; then
    send quit
    wait "$(cat "$work/publisher.pid")" || fail "publisher_tool ended with status $?"
fi
echo "scenario $2 passed"
