#!/usr/bin/env bash
# The benchmark in one command: installs what it needs, builds the server and the load client
# (Release, in build-bench/), generates the mail store once into a cache directory, runs the
# host stand-in and Dovecot on the same mail, measures both with the same client, and prints
# the table; the results and a chart of the ratios go to bench/results/.
#
#   bench/run.sh            the full benchmark (about 3 minutes; the first run also
#                           generates the store: about 7 GB taking 11 GB of disk, two
#                           million files of it the folder of a million messages, once for
#                           each server)
#   bench/run.sh --smoke    a small store and our server only, a few seconds; exits 1 when
#                           an answer is wrong, for CI
#
# Environment: ORV_BENCH_BUILD (build directory, default build-bench), ORV_BENCH_CACHE (where
# the generated store is kept, default /var/tmp/orv-bench). Other arguments go to run.py
# (--ours-only, --limit SECONDS, --no-scaling).
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=0
for arg in "$@"; do
    [ "$arg" = "--smoke" ] && smoke=1
done

packages=(cmake ninja-build g++ python3 libssl-dev)
[ $smoke -eq 0 ] && packages+=(dovecot-imapd gnuplot-nox)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "bench: installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    # The package's own service must not start: the benchmark runs Dovecot with a
    # configuration of its own. A policy that forbids starting services does that.
    policy=/usr/sbin/policy-rc.d
    made_policy=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
        $SUDO chmod 755 "$policy"
        made_policy=1
    fi
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
    [ $made_policy -eq 1 ] && $SUDO rm -f "$policy"
fi

build=${ORV_BENCH_BUILD:-build-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target orvex-host orimapst imap_load -j"$(nproc)"

exec python3 bench/run.py --build "$build" "$@"
