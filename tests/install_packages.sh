#!/usr/bin/env bash
# Installs the Debian packages named as arguments that are not installed yet (one apt-get update
# first, only when something is missing; nothing is asked of any registry otherwise). Waits for
# another apt or dpkg that holds the package manager's lock instead of failing. Used by ./test.sh
# and the scripts under tests/.
# Usage: tests/install_packages.sh [--no-install-recommends] PACKAGE...
set -euo pipefail
apt_options=(-o DPkg::Lock::Timeout=600)
install_options=()
if [ "${1:-}" = "--no-install-recommends" ]; then
    install_options+=(--no-install-recommends)
    shift
fi
missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get "${apt_options[@]}" update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${apt_options[@]}" install -y -q \
    "${install_options[@]}" "${missing[@]}"
