#!/usr/bin/env bash
# Builds everything in a Debug configuration with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test through CTest, after the leak, ThreadSanitizer and short fuzz runs.
# Installs the Debian packages it needs when they are missing.
# Usage: ./test.sh [extra ctest arguments, e.g. -R text_test]
set -euo pipefail
cd "$(dirname "$0")"

tests/install_packages.sh cmake ninja-build g++ libgtest-dev libgmock-dev python3 libssl-dev openssl

# The real IMAP clients the client suite drives.
bash tests/clients/install.sh

build=build-test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# The whole run (no arguments) also runs the end-to-end suite for leaks with every host
# stopped in order, the threaded tests under ThreadSanitizer, and every fuzz target briefly.
# With arguments (a test filter for ctest) only the selected CTest tests run.
if [ $# -eq 0 ]; then
    tests/sanitizers/run_leaks.sh "$build"
    tests/sanitizers/run_tsan.sh
    tests/fuzz/run.sh --seconds 3 --jobs 2
    tests/win32/run.sh "$build"
fi

cd "$build"
ctest --output-on-failure --timeout 900 -j"$(nproc)" "$@"
