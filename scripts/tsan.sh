#!/usr/bin/env bash
# scripts/tsan.sh [ctest arguments...]: builds the suite under ThreadSanitizer in build-tsan and
# runs ctest there. Not part of the test command (it takes a while): run it after touching any
# code that threads share. A race report makes its test binary exit non-zero, so ctest fails.
# KAVRO_TSAN_JOBS sets the build jobs (default 2); tests run one at a time by default because
# the instrumented stream tests are timing-sensitive.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

jobs=${KAVRO_TSAN_JOBS:-2}
echo "== build (thread sanitizer)"
cmake -S "$root" -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKAVRO_SANITIZE=thread \
    -DKAVRO_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs"

echo "== tests under thread sanitizer"
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=0 second_deadlock_stack=1}
cd build-tsan
ctest --output-on-failure --timeout 900 "$@"
