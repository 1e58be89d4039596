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
"$examples/discover_and_open" "$a" | grep -q "opened KSC-1000, serial SIM00001"
"$examples/features" "$a" | grep -q "image 320x240 Mono8"
"$examples/grab_to_file" "$a" "$work/image.pgm" | grep -q "5 images"
[ "$(head -c 2 "$work/image.pgm")" = "P5" ]
"$examples/events" "$a" 2 | grep -q "2 event(s)"
"$examples/two_cameras" "$a" "$b" | grep -c "10 of 10 images" | grep -q 2
"$examples/action_command" "$a" "$b" | grep -q "2 of 2 cameras acknowledged"
echo "all examples ran"
