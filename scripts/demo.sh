#!/usr/bin/env bash
# The main job on the embedded default: builds the tools and runs the demo against a simulated
# camera on loopback.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
exec build/tools/gevtool demo "$@"
