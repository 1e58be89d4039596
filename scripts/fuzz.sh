#!/usr/bin/env bash
# scripts/fuzz.sh [seconds per target] [target...]: builds the libFuzzer targets with clang in
# build-fuzz, replays the checked-in seed corpora, then fuzzes each target for the given time
# (default 60 s). New inputs go to build-fuzz/corpus/<target>, crash inputs to
# build-fuzz/crashes/<target>. Exits non-zero when any target crashed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(mathparser gvcp gvsp_assembler gvsp_secure description_url description_unzip description)
fi
jobs=${KAVRO_FUZZ_JOBS:-2}

# clang's runtime libraries carry libFuzzer.
scripts/install-deps.sh libclang-rt-dev

echo "== build (clang, libFuzzer, address,undefined sanitizers)"
CC=clang CXX=clang++ cmake -S "$root" -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVRO_BUILD_FUZZ=ON -DKAVRO_BUILD_TESTS=OFF -DKAVRO_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/%/_fuzz}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=()
for name in "${targets[@]}"; do
    binary=build-fuzz/fuzz/${name}_fuzz
    seeds=fuzz/corpus/$name
    corpus=build-fuzz/corpus/$name
    crashes=build-fuzz/crashes/$name
    mkdir -p "$corpus" "$crashes"
    seedArgs=()
    [ -d "$seeds" ] && seedArgs=("$seeds")
    echo "== $name: ${seconds} s"
    if ! "$binary" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$crashes/" \
        "$corpus" "${seedArgs[@]}" >"build-fuzz/$name.log" 2>&1; then
        failed+=("$name")
        echo "   CRASH: see build-fuzz/$name.log; inputs in $crashes/"
        grep -m 5 -E "ERROR: |runtime error|SUMMARY" "build-fuzz/$name.log" | sed 's/^/   /' || true
    fi
    grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added" \
        "build-fuzz/$name.log" | sed 's/^/   /' || true
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "== crashes in: ${failed[*]}"
    exit 1
fi
echo "== no crashes"
