#!/usr/bin/env bash
# Every gevtool subcommand against gevcamsim on loopback: its help and usage errors, its work,
# and its failures in words. Discovery and Force IP need broadcast and run in a private pair of
# network namespaces (skipped, with a message, where they can't be made).
#   gevtool_test.sh <gevtool> <gevcamsim>
set -uo pipefail
gevtool=$1
gevcamsim=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/simulator.sh"
work=$(mktemp -d)
netns_host="" netns_cams=""
cleanup() {
    stop_simulator
    [ -n "$netns_host" ] && ip netns del "$netns_host" 2>/dev/null
    [ -n "$netns_cams" ] && ip netns del "$netns_cams" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect <exit status> <pattern or ""> <command...>: runs it, checks its status and that its
# standard output and error hold the pattern.
expect() {
    local want=$1 pattern=$2
    shift 2
    local output status
    output=$("$@" 2>&1)
    status=$?
    if [ "$status" -ne "$want" ]; then
        fail "$* exited $status, not $want:"$'\n'"$output"
    elif [ -n "$pattern" ] && ! grep -qE -- "$pattern" <<<"$output"; then
        fail "$* printed no /$pattern/:"$'\n'"$output"
    fi
}

start_simulator "$gevcamsim" 2 --event-interval 100 || exit 1
a=${SIM_ADDRESSES[0]}
b=${SIM_ADDRESSES[1]}

# Help and bad usage, for every subcommand.
commands="discover forceip netconfig info read write features get set xml grab stats events
    testpacket maxpacket demo"
for c in $commands; do
    expect 0 "^usage: gevtool $c" "$gevtool" "$c" --help
    expect 2 "unknown option --no-such-option" "$gevtool" "$c" --no-such-option
done
expect 2 "usage: gevtool COMMAND" "$gevtool"
expect 2 "no command \"nonsense\"" "$gevtool" nonsense
expect 0 "testpacket +fire one" "$gevtool" --help
expect 2 "needs ADDRESS" "$gevtool" read -a "$a"
expect 2 "not an IPv4 address" "$gevtool" info -a 300.1.2.3
expect 2 "needs MAC and ADDRESS" "$gevtool" forceip 00:0C:4B:10:20:30
expect 2 "N must be 1" "$gevtool" grab -a "$a" 0
expect 2 "--path takes socket or driver" "$gevtool" stats -a "$a" --path disk

# The work of each command, on the first camera.
expect 0 "serial number +SIM00001" "$gevtool" info -a "$a"
expect 0 "GVCP capability +0x[0-9A-F]{8}: .*packet resend" "$gevtool" info -a "$a"
expect 0 "0x00000938 = 0x00000BB8 \(3000\)" "$gevtool" read -a "$a" 0x938
expect 0 "Kavro Simulated" "$gevtool" read -a "$a" --memory 0x48 32
expect 0 "wrote 2 register" "$gevtool" write -a "$a" 0x10000 0xCAFE 7
expect 0 "0x00010004 = 0x00000007" "$gevtool" read -a "$a" 0x10000 2
expect 0 "wrote 4 byte" "$gevtool" write -a "$a" --memory 0x10010 1 2 3 0xFF
expect 0 "00010010  01 02 03 FF" "$gevtool" read -a "$a" --memory 0x10010 4
expect 0 "^ +Width +[0-9]+ px +RW integer" "$gevtool" features -a "$a"
expect 0 ", (invisible|guru|expert)" "$gevtool" features -a "$a" --all
expect 0 "^Width = 320" "$gevtool" set -a "$a" Width 320
expect 0 "^320$" "$gevtool" get -a "$a" Width
expect 0 "PixelFormat = Mono8" "$gevtool" get -a "$a" Width PixelFormat
expect 0 "saved [0-9]+ bytes" "$gevtool" xml -a "$a" "$work/description.xml"
grep -q "<RegisterDescription" "$work/description.xml" || fail "xml saved no description"
expect 0 "images +3 of 3 \(" "$gevtool" grab -a "$a" 3 --format pgm --output "$work/m"
[ "$(head -c 2 "$work/m_0003.pgm")" = "P5" ] || fail "grab wrote no PGM file"
expect 0 "PixelFormat = Mono16" "$gevtool" set -a "$a" PixelFormat Mono16
expect 0 "files +1 written" "$gevtool" grab -a "$a" 1 --output "$work/w"
file "$work/w_0001.png" 2>/dev/null | grep -q "16-bit grayscale" ||
    [ "$(head -c 4 "$work/w_0001.png" | tail -c 3)" = "PNG" ] || fail "grab wrote no PNG file"
expect 0 "" "$gevtool" set -a "$a" PixelFormat Mono8
expect 0 "library +\[INFO\] - Frames: 5," "$gevtool" stats -a "$a" --frames 5
expect 0 "stream path: socket" "$gevtool" stats -a "$a" --frames 2 --path socket
# The driver path where it can be had (CAP_NET_RAW), else the socket path: the images come.
expect 0 "stream path: (driver|socket)" "$gevtool" stats -a "$a" --frames 2 --path driver
expect 0 "event 0x9000 .* 4 data bytes" "$gevtool" events -a "$a" --count 2 --seconds 10
expect 0 "test packet of [0-9]+ bytes came back" "$gevtool" testpacket -a "$a"
expect 0 "allows: 2000 bytes" "$gevtool" maxpacket -a "$a" --upper 2000
expect 0 "persistent IP +10.1.2.3" "$gevtool" netconfig -a "$a" --ip 10.1.2.3 --mask 255.0.0.0
expect 0 "DHCP +on" "$gevtool" netconfig -a "$b"

# Failures are non-zero and say what went wrong in words.
expect 1 "GEV_STATUS_FEATURE_NOT_FOUND \(0xC01D\)" "$gevtool" get -a "$a" NoSuchFeature
expect 1 "GEV_STATUS_INVALID_ADDRESS \(0x8003\)" "$gevtool" read -a "$a" 0xFFFFFFF0
expect 1 "GEV_STATUS_FEATURE_TEXT_MISSING \(0xC01F\)" "$gevtool" set -a "$a" PixelFormat Nope
expect 1 "" "$gevtool" events -a "$b" --count 1000 --seconds 1

# Discovery, selection by serial and Force IP, by broadcast inside a private network.
ns_ok=1
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
    ns_ok=0
else
    netns_host="kgt_h$$" netns_cams="kgt_c$$"
    { ip netns add "$netns_host" && ip netns add "$netns_cams" &&
        ip link add "kgth$$" netns "$netns_host" type veth peer name "kgtc$$" netns "$netns_cams" &&
        ip -n "$netns_host" addr add 198.18.1.1/24 dev "kgth$$" &&
        ip -n "$netns_host" link set "kgth$$" up && ip -n "$netns_host" link set lo up &&
        ip -n "$netns_cams" addr add 198.18.1.20/24 dev "kgtc$$" &&
        ip -n "$netns_cams" addr add 198.18.1.21/24 dev "kgtc$$" &&
        ip -n "$netns_cams" link set "kgtc$$" up && ip -n "$netns_cams" link set lo up; } \
        2>"$work/netns.err" || ns_ok=0
fi
if [ "$ns_ok" -eq 0 ]; then
    echo "SKIP discover, forceip, -d: network namespaces can't be made here ($(cat "$work/netns.err" 2>/dev/null))"
else
    ip netns exec "$netns_cams" "$gevcamsim" --address 198.18.1.20 --count 2 \
        --serial-prefix NS --interface "kgtc$$" >"$work/nssim.out" 2>&1 &
    ns_sim=$!
    sleep 1
    in_host() { ip netns exec "$netns_host" "$@"; }
    expect 0 "198.18.1.20 +00:0C:4B:10:00:01 +KSC-1000 +NS00001 +kgth$$ \(198.18.1.1\) +available" \
        in_host "$gevtool" discover
    expect 0 "serial number +NS00002" in_host "$gevtool" info -d NS00002
    expect 0 "serial number +NS00001" in_host "$gevtool" info -d 1
    expect 1 "no camera \"NS99999\"" in_host "$gevtool" info -d NS99999
    expect 0 "now has 198.18.1.30" in_host "$gevtool" forceip 00:0C:4B:10:00:02 198.18.1.30
    expect 0 "198.18.1.30 +00:0C:4B:10:00:02" in_host "$gevtool" discover
    kill "$ns_sim" 2>/dev/null
    wait "$ns_sim" 2>/dev/null
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all gevtool checks passed"
