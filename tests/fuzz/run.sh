#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build-fuzz/ and runs each one for a
# while: first its regression inputs (tests/fuzz/regressions/TARGET/, each must pass), then
# fuzzing on a working copy of its seed corpus (build-fuzz/corpus/TARGET). Stops at the first
# finding and prints the reproducer's path; at the end prints executions and result per target.
#
# Usage: tests/fuzz/run.sh [--seconds N] [--jobs J] [--merge] [TARGET...]
#   --seconds N  fuzzing time per target (default 60)
#   --jobs J     targets fuzzed at the same time (default 1)
#   --merge      add the new interesting inputs to the seed corpus in the repository
#   TARGET       session, mime, ... (the NAME of NAME_fuzz.cpp); default: all of them
# Installs clang with its libFuzzer runtime, CMake and Ninja when they are missing.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build-fuzz"

seconds=60
jobs=1
merge=0
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --jobs) jobs="$2"; shift 2 ;;
        --merge) merge=1; shift ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
        *) targets+=("${1%_fuzz}"); shift ;;
    esac
done
if [ ${#targets[@]} -eq 0 ]; then
    for src in "$here"/*_fuzz.cpp; do
        name="$(basename "$src" .cpp)"
        targets+=("${name%_fuzz}")
    done
fi
for t in "${targets[@]}"; do
    if [ ! -f "$here/${t}_fuzz.cpp" ]; then
        echo "run.sh: no fuzz target $t" >&2
        exit 2
    fi
done

# --- Tools ---------------------------------------------------------------------------------
links_fuzzer() {
    local probe
    probe="$(mktemp -d)"
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
        >"$probe/probe.cpp"
    local ok=1
    clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
        >/dev/null 2>&1 || ok=0
    rm -rf "$probe"
    [ $ok -eq 1 ]
}
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
if ! command -v clang++ >/dev/null 2>&1 || ! links_fuzzer; then
    # Debian 12: clang 14, whose libFuzzer and sanitizer runtimes are in libclang-rt-14-dev.
    missing+=(clang libclang-rt-14-dev)
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "run.sh: installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
    if ! links_fuzzer; then
        echo "run.sh: clang++ cannot link -fsanitize=fuzzer" >&2
        exit 1
    fi
fi

# --- Build ---------------------------------------------------------------------------------
start=$(date +%s)
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "${t}_fuzz"); done
if ! cmake --build "$build" -j"$(nproc)" "${build_targets[@]}" >"$build/build.log" 2>&1; then
    cat "$build/build.log" >&2
    echo "run.sh: build failed" >&2
    exit 1
fi
echo "run.sh: built in $(( $(date +%s) - start )) s"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# --- Run -----------------------------------------------------------------------------------
results="$build/results"
rm -rf "$results"
mkdir -p "$results"

# Runs one target; writes its log and a result line "executions seconds result [reproducer]".
run_target() {
    local t="$1"
    local exe="$build/${t}_fuzz"
    local log="$results/$t.log"
    local findings="$build/findings/$t"
    local corpus="$build/corpus/$t"
    local began
    began=$(date +%s)
    mkdir -p "$findings" "$corpus"

    local regressions=()
    if [ -d "$here/regressions/$t" ]; then
        while IFS= read -r -d '' f; do regressions+=("$f"); done \
            < <(find "$here/regressions/$t" -type f -print0 | sort -z)
    fi
    if [ ${#regressions[@]} -gt 0 ]; then
        if ! "$exe" -runs=1 "${regressions[@]}" >"$log" 2>&1; then
            local failed
            failed="$(grep -o 'Running: .*' "$log" | tail -n 1 | cut -d' ' -f2- || true)"
            echo "0 $(( $(date +%s) - began )) REGRESSION ${failed:-$here/regressions/$t}" \
                >"$results/$t.result"
            return 1
        fi
    fi

    if [ -d "$here/corpus/$t" ]; then
        cp -n "$here/corpus/$t"/* "$corpus"/ 2>/dev/null || true
    fi
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
                   -print_final_stats=1 -artifact_prefix="$findings/")
    [ -f "$here/dict/$t.dict" ] && options+=(-dict="$here/dict/$t.dict")
    # The session reads commands from the network: what a client makes it hold is bounded (a
    # command holds 8 KiB before LOGIN, a literal at most 1 MiB), so a larger single
    # allocation, or a process past a few hundred MiB, is a finding.
    if [ "$t" = session ]; then
        options=("${options[@]/-rss_limit_mb=2048/-rss_limit_mb=512}" -malloc_limit_mb=16)
    fi
    local status=0
    "$exe" "${options[@]}" "$corpus" >>"$log" 2>&1 || status=$?

    local executions
    executions="$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -n 1 |
                  awk '{print $2}' || true)"
    if [ -z "$executions" ]; then
        executions="$(grep -oE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#' || true)"
    fi
    local elapsed=$(( $(date +%s) - began ))
    if [ $status -ne 0 ]; then
        local artifact
        artifact="$(grep -o 'Test unit written to .*' "$log" | tail -n 1 | cut -d' ' -f5- || true)"
        echo "${executions:-0} $elapsed FINDING ${artifact:-see $log}" >"$results/$t.result"
        return 1
    fi
    if [ $merge -eq 1 ]; then
        mkdir -p "$here/corpus/$t"
        "$exe" -merge=1 "$here/corpus/$t" "$corpus" >>"$log" 2>&1 || true
    fi
    echo "${executions:-0} $elapsed OK" >"$results/$t.result"
}

failed=0
running=0
for t in "${targets[@]}"; do
    [ $failed -ne 0 ] && break
    echo "run.sh: fuzzing $t for $seconds s"
    run_target "$t" &
    running=$((running + 1))
    if [ $running -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
done
while [ $running -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done

printf '\n%-16s %14s %8s  %s\n' target executions seconds result
for t in "${targets[@]}"; do
    if [ -f "$results/$t.result" ]; then
        read -r executions elapsed result rest <"$results/$t.result"
        printf '%-16s %14s %8s  %s\n' "$t" "$executions" "$elapsed" "$result"
        if [ "$result" != OK ]; then
            echo "    reproducer: $rest"
            echo "    log:        $results/$t.log"
            echo "    replay:     $build/${t}_fuzz $rest"
        fi
    else
        printf '%-16s %14s %8s  %s\n' "$t" - - "not run"
    fi
done
echo "run.sh: total $(( $(date +%s) - start )) s"
exit $failed
