#!/usr/bin/env bash
# Builds the server and starts it on a demo store.
set -euo pipefail
cd "$(dirname "$0")"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
if [ ! -x build/bin/orvex-host ]; then
    echo "run.sh: the build is complete, but the host stand-in (build/bin/orvex-host) does not"
    echo "exist yet, so there is no server to start on a demo store."
    exit 1
fi
exec build/bin/orvex-host "$@"
