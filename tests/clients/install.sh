#!/usr/bin/env bash
# Installs what tests/clients/ drives, each only when it is missing (nothing is asked of any
# registry when everything is there):
# - the Debian packages of the IMAP clients and of the tools that drive them, through
#   tests/install_packages.sh (Perl's Mail::IMAPClient among them);
# - Dovecot's doveadm (dovecot-core) for the migration test and its imap (dovecot-imapd) for the
#   local side of the interimap test, without starting the system's Dovecot: the tests run
#   them on a configuration of their own.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
install="$here/../install_packages.sh"

"$install" --no-install-recommends \
    curl isync fetchmail mutt tmux offlineimap3 getmail6 passwd util-linux interimap \
    libmail-imapclient-perl libencode-imaputf7-perl

if ! dpkg-query -W -f='${Status}' dovecot-core dovecot-imapd 2>/dev/null |
    grep -q "ok installed.*ok installed"; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    # A policy that forbids starting services keeps the package's own service stopped.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
        $SUDO chmod 755 "$policy"
        trap '$SUDO rm -f "$policy"' EXIT
    fi
    "$install" --no-install-recommends dovecot-core dovecot-imapd
fi
