#!/usr/bin/env bash
# Builds the receiver fuzzer with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs it from the seed corpus for a bounded time. Any crash, hang or rule the fuzzer checks fails the run.
#   FUZZ_SECONDS  how long to fuzz (default 60)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ is missing" >&2
    exit 1
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOVANTA_FUZZ=ON \
    -DMOVANTA_TESTS=OFF -DMOVANTA_BENCH=OFF -DMOVANTA_SANITIZE=address,undefined \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -fno-sanitize-recover=all" >/dev/null
cmake --build "$build" -j"$jobs" --target movanta_fuzz_receiver

# The corpus grows in a scratch folder; the committed seeds stay as they are.
work=$(mktemp -d "${TMPDIR:-/tmp}/movanta-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
cp "$root"/fuzz/corpus/* "$work/corpus/"

log="$work/fuzz.log"
status=0
MOVANTA_FUZZ_WORK="$work" ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$build/fuzz/movanta_fuzz_receiver" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -max_len=65536 -print_funcs=0 -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" >"$log" 2>&1 || status=$?

if [ $status -eq 77 ]; then
    grep SKIP "$log" >&2 || true
    echo "fuzz: skipped" >&2
    exit 0
fi
runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
if [ $status -ne 0 ]; then
    tail -n 60 "$log" >&2
    for crash in "$work"/artifacts/*; do
        [ -f "$crash" ] || continue
        mkdir -p "$root/build-fuzz/crashes"
        cp "$crash" "$root/build-fuzz/crashes/"
        echo "fuzz: failing input kept in build-fuzz/crashes/$(basename "$crash")" >&2
    done
    echo "fuzz: receiver fuzzer FAILED after $runs executions" >&2
    exit 1
fi
echo "fuzz: receiver fuzzer ran $runs executions in ${seconds} s from $(ls "$root/fuzz/corpus" | wc -l) seeds; no crash, hang, write outside the home or command run"
