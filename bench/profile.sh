#!/usr/bin/env bash
# Profiles the host stand-in with perf on two operations of the benchmark store (run
# bench/run.sh once first: it builds the programs and makes the store) and writes the top
# entries of each profile to bench/results/profile.txt:
#   the full download   UID FETCH 1:* BODY.PEEK[] of "large"
#   the listing         FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE) of INBOX, twice in one session
#
#   bench/profile.sh [TOP]      TOP: entries per profile (default 40)
#
# Environment: ORV_BENCH_BUILD (default build-bench), ORV_BENCH_CACHE (default
# /var/tmp/orv-bench). Needs perf; runs as root or with kernel.perf_event_paranoid <= 1.
set -euo pipefail
cd "$(dirname "$0")/.."

top=${1:-40}
build=${ORV_BENCH_BUILD:-build-bench}
bin=$build/bin
mailbox=${ORV_BENCH_CACHE:-/var/tmp/orv-bench}/full/store
out=bench/results/profile.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for program in "$bin/orvex-host" "$bin/orimapst" "$bin/imap_load"; do
    [ -x "$program" ] || { echo "profile: $program is missing; run bench/run.sh first" >&2; exit 1; }
done
[ -d "$mailbox" ] || { echo "profile: no store in $mailbox; run bench/run.sh first" >&2; exit 1; }
command -v perf >/dev/null || { echo "profile: perf is not installed" >&2; exit 1; }

# Reads every file of a folder once, so the profile sees the page cache, not the disk.
warm() {
    cat "$mailbox"/bench/"$1"/*.orv >/dev/null
}

# profile NAME FOLDER COMMAND...: one session of the commands against a fresh host under perf.
profile() {
    local name=$1 folder=$2
    shift 2
    local port=$((40000 + RANDOM % 20000))
    "$bin/orimapst" --mailbox "$mailbox" set PortNo "$port" >/dev/null
    "$bin/orvex-host" --mailbox "$mailbox" >"$work/host.log" 2>&1 &
    local host=$!
    for _ in $(seq 200); do
        (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.05
    done
    warm "$folder"
    perf record -F 2000 -g -p "$host" -o "$work/$name.data" >/dev/null 2>&1 &
    local recorder=$!
    sleep 0.5
    "$bin/imap_load" commands --port "$port" --user bench --password bench --limit 600 "$@" \
        >"$work/$name.json"
    kill -INT "$recorder"
    wait "$recorder" || true
    kill -TERM "$host"
    wait "$host" || true
}

profile download large.box "SELECT large" "UID FETCH 1:* BODY.PEEK[]"
profile envelope inbox.box "SELECT INBOX" "FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE)" \
    "FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE)"

# head ends the reports early: their broken pipes are no failure.
set +o pipefail
{
    echo "perf profiles of orvex-host ($(git rev-parse --short HEAD 2>/dev/null || echo '?'), $(date -u '+%Y-%m-%d %H:%M') UTC)"
    echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"
    for name in download envelope; do
        echo
        echo "=== $name: the session's commands (seconds and bytes as imap_load saw them)"
        sed 's/^/  /' "$work/$name.json"
        echo
        echo "--- $name: self time by object (orvex-host is the host stand-in, OrvImapS.so the"
        echo "    plug-in, [kernel.kallsyms] the system calls they make)"
        perf report -i "$work/$name.data" --no-children --stdio --sort dso -g none 2>/dev/null |
            grep -E '^ +[0-9]' | sed 's/[ -]*$//' | head -n 8
        echo
        echo "--- $name: self time by symbol, top $top"
        perf report -i "$work/$name.data" --no-children --stdio --sort dso,symbol -g none \
            2>/dev/null | grep -E '^ +[0-9]' | sed 's/[ -]*$//' | cut -c1-150 | head -n "$top"
        echo
        echo "--- $name: time including callees, top $top"
        perf report -i "$work/$name.data" --children --stdio --sort dso,symbol -g none \
            2>/dev/null | grep -E '^ +[0-9]' | sed 's/[ -]*$//' | cut -c1-150 | head -n "$top"
    done
} >"$out"
echo "profile: $out"
