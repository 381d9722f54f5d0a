#!/usr/bin/env bash
# Installs the Debian packages of the IMAP clients that tests/clients/ drives, and of the tools
# it drives them with, when any of them is missing (through tests/install_packages.sh: nothing
# is asked of any registry when everything is installed).
set -euo pipefail
exec "$(dirname "$0")/../install_packages.sh" --no-install-recommends \
    curl isync fetchmail mutt tmux offlineimap3 getmail6 passwd util-linux
