#!/usr/bin/env bash
# Runs the whole end-to-end suite against the AddressSanitizer build with leak detection on, and
# fails on any sanitizer report. Every host stand-in is stopped in order when its test ends (not
# killed), so each one runs its leak check just before it unloads the plug-in, and every
# report of every process (hosts, orimapst) is written to a file of its own and counted here.
# Usage: tests/sanitizers/run_leaks.sh [BUILD_DIR]
#   BUILD_DIR: the Debug AddressSanitizer build to use (default build-test, the one ./test.sh
#   makes); configured and brought up to date here.
set -euo pipefail
source "$(dirname "$0")/common.sh"

build=$(realpath -m "${1:-build-test}")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

report_dir="$build/leak-reports"
logs="$build/leak-logs"
rm -rf "$report_dir" "$logs"
mkdir -p "$report_dir" "$logs"
export ORV_BUILD_DIR="$build"
export PYTHONDONTWRITEBYTECODE=1
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
ASAN_OPTIONS+=":log_path=$report_dir/report"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$report_dir/report"

started=$(date +%s)
modules=$(cd tests/e2e && ls ./*_test.py | sed 's|^\./||; s|\.py$||')
failed=0
# One module per process, as many at once as there are processors; each module's output is
# kept in a log and shown when the module fails.
printf '%s\n' $modules | xargs -P "$(nproc)" -I{} sh -c \
    'python3 "$0/tests/sanitizers/stop_in_order.py" "$0/tests/e2e" {} >"$1/{}.log" 2>&1 \
     || { echo "run_leaks.sh: {} failed"; exit 1; }' "$root" "$logs" || failed=1
for m in $modules; do
    if grep -q "^FAILED" "$logs/$m.log"; then
        echo "===== $m"
        cat "$logs/$m.log"
    fi
done

show_reports "$report_dir" "sanitizer report"
echo "run_leaks.sh: $(echo "$modules" | wc -w) end-to-end modules in" \
     "$(( $(date +%s) - started )) s; $reports sanitizer reports"
exit $failed
