#!/usr/bin/env bash
# Installs the Debian packages of the IMAP clients that tests/clients/ drives, and of the tools
# it drives them with, when any of them is missing. Does nothing (and asks no registry) when
# everything is installed; otherwise one apt-get update, then one apt-get install.
set -euo pipefail

packages=(curl isync fetchmail mutt tmux offlineimap3 getmail6 passwd util-linux)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "tests/clients/install.sh: installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi
