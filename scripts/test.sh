#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test, installs the build to a
# temporary prefix and builds, runs and tests what uses it (examples through the CMake package
# and pkg-config, the Python package), then builds and runs the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh

jobs=$(nproc)
echo "== build (RelWithDebInfo)"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests"
(cd build && ctest -j "$jobs" --output-on-failure --timeout 300)
echo "== install, consumers of the install, Python package"
scripts/check-install.sh build

echo "== build (address,undefined sanitizers)"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DKAVRO_SANITIZE=address,undefined \
    -DKAVRO_BUILD_BENCH=OFF
echo "== tests under sanitizers"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest -j "$jobs" --output-on-failure --timeout 600)
