#!/usr/bin/env bash
# Builds the project with ThreadSanitizer (Debug, in build-tsan) and runs the tests where
# threads meet under it: the unit tests of sockets, threads, connections, the locked list,
# profiles and mailboxes, and the end-to-end tests of sessions, the host, the limits, change
# reports, faults and TLS against a host stand-in built the same way. Fails on any report.
# Usage: tests/sanitizers/run_tsan.sh [BUILD_DIR]   (default build-tsan)
set -euo pipefail
source "$(dirname "$0")/common.sh"

unit_tests=(sockets_test threads_test connection_test locked_list_test profile_test mailbox_test
            files_test)
e2e_tests=(session_test host_test limits_test extended_updates_test faults_test tls_test)

build=$(realpath -m "${1:-build-tsan}")
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
    -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
    -DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${unit_tests[@]}" orvex-host orimapst \
    orvex-host-incomplete

report_dir="$build/tsan-reports"
rm -rf "$report_dir"
mkdir -p "$report_dir"
export TSAN_OPTIONS="halt_on_error=0:second_deadlock_stack=1:log_path=$report_dir/report"
TSAN_OPTIONS+=":suppressions=$root/tests/sanitizers/tsan.supp"
export ORV_BUILD_DIR="$build"
export PYTHONDONTWRITEBYTECODE=1
# The sanitizer needs its fixed memory layout; some kernels randomise mappings beyond what it
# allows, so address randomisation is turned off for the tests where that is possible.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
    norandom=(setarch "$(uname -m)" -R)
fi

started=$(date +%s)
failed=0
for t in "${unit_tests[@]}"; do
    "${norandom[@]}" "$build/tests/$t" --gtest_brief=1 ||
        { echo "run_tsan.sh: $t failed"; failed=1; }
done
(cd tests/e2e && "${norandom[@]}" python3 "$root/tests/sanitizers/stop_in_order.py" \
    "$root/tests/e2e" "${e2e_tests[@]}") ||
    { echo "run_tsan.sh: end-to-end tests failed"; failed=1; }

show_reports "$report_dir" "ThreadSanitizer report"
echo "run_tsan.sh: ${#unit_tests[@]} unit test programs and ${#e2e_tests[@]} end-to-end modules" \
     "in $(( $(date +%s) - started )) s; $reports reports"
exit $failed
