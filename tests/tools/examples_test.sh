#!/usr/bin/env bash
# Runs the example programs against gevcamsim on loopback.
#   examples_test.sh <example folder> <gevcamsim>
set -euo pipefail
examples=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/simulator.sh"
work=$(mktemp -d)
trap 'stop_simulator; rm -rf "$work"' EXIT

start_simulator "$2" 2 --event-interval 100
a=${SIM_ADDRESSES[0]}
b=${SIM_ADDRESSES[1]}
"$examples/discover_and_open" "$a" | grep "opened KSC-1000, serial SIM00001" >/dev/null
"$examples/features" "$a" | grep "image 320x240 Mono8" >/dev/null
"$examples/grab_to_file" "$a" "$work/image.pgm" | grep "5 images" >/dev/null
[ "$(head -c 2 "$work/image.pgm")" = "P5" ]
"$examples/events" "$a" 2 | grep "2 event(s)" >/dev/null
"$examples/two_cameras" "$a" "$b" | grep -c "10 of 10 images" | grep 2 >/dev/null
"$examples/action_command" "$a" "$b" | grep "2 of 2 cameras acknowledged" >/dev/null
echo "all examples ran"
