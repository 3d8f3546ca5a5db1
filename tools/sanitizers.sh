#!/usr/bin/env bash
# Builds the threaded tests with ThreadSanitizer and runs them; any report fails the run.
#   TSAN_TESTS   CTest regular expression of the tests to run (default: sockets, helpers, engines, selection, report)
#   TSAN_EXCLUDE CTest regular expression of tests left out (default: the D-Bus helpers, whose threads live in
#                libdbus and GLib, which are not instrumented: their locks are invisible to the sanitizer)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tsan"
tests_regex=${TSAN_TESTS:-'^(net\..*|common\..*|select\.(selectscan|inventory|selectpage|listview|selectionmodel)|connect\.(receiverfiles|receiverpairing|senderengine|receiverconnector)|report\.(resultthreads|reportlog)|transfer\.transferpage)$'}
exclude_regex=${TSAN_EXCLUDE:-'^common\.(sleepinhibitor|finishnotifier)$'}
jobs=${TSAN_JOBS:-2}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOVANTA_SANITIZE=thread -DMOVANTA_BENCH=OFF >/dev/null

# Only the test programs the expression selects; the test "<folder>.<name>" is built by test_<folder>_<name>.
targets=()
while read -r test; do
    targets+=("test_${test%%.*}_${test#*.}")
done < <(ctest --test-dir "$build" -N -R "$tests_regex" -E "$exclude_regex" | sed -n 's/^ *Test *#[0-9]*: *\([^ ]*\).*/\1/p')

if [ ${#targets[@]} -eq 0 ]; then
    echo "sanitizers: no test matches $tests_regex" >&2
    exit 1
fi

cmake --build "$build" -j"$jobs" --target "${targets[@]}"

options="halt_on_error=1 second_deadlock_stack=1"
if [ -f "$root/tools/tsan.supp" ]; then
    options="$options suppressions=$root/tools/tsan.supp"
fi
cd "$build"
TSAN_OPTIONS="$options${TSAN_OPTIONS:+ $TSAN_OPTIONS}" ctest -R "$tests_regex" -E "$exclude_regex" --output-on-failure -j"$jobs"
