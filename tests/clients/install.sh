#!/usr/bin/env bash
# Installs what tests/clients/ drives, each only when it is missing (nothing is asked of any
# registry when everything is there):
# - the Debian packages of the IMAP clients and of the tools that drive them, through
#   tests/install_packages.sh (Perl's Mail::IMAPClient among them);
# - Dovecot's doveadm (dovecot-core) for the migration test, without starting the system's
#   Dovecot: the test runs doveadm on a configuration of its own;
# - Node.js, and the Node.js IMAP library imapflow from the npm registry into a cache directory
#   ($ORV_NODE_MODULES_DIR, default /var/tmp/orv-clients/node). When the registry cannot be
#   reached the library is left out, and its test skips saying so; the script does not fail.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
install="$here/../install_packages.sh"

"$install" --no-install-recommends \
    curl isync fetchmail mutt tmux offlineimap3 getmail6 passwd util-linux \
    libmail-imapclient-perl libencode-imaputf7-perl

if ! dpkg-query -W -f='${Status}' dovecot-core 2>/dev/null | grep -q "ok installed"; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    # A policy that forbids starting services keeps the package's own service stopped.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
        $SUDO chmod 755 "$policy"
        trap '$SUDO rm -f "$policy"' EXIT
    fi
    "$install" --no-install-recommends dovecot-core
fi

# Node.js: any that brings npm (the machine's own, or Debian's).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    "$install" --no-install-recommends nodejs npm
fi
IMAPFLOW_VERSION=2.10.2
modules="${ORV_NODE_MODULES_DIR:-/var/tmp/orv-clients/node}"
if ! grep -qs "\"version\": \"$IMAPFLOW_VERSION\"" "$modules/node_modules/imapflow/package.json"
then
    mkdir -p "$modules"
    if ! timeout 300 npm install --prefix "$modules" --no-save --no-audit --no-fund \
            --fetch-retries=1 --loglevel=error "imapflow@$IMAPFLOW_VERSION"; then
        echo "tests/clients/install.sh: imapflow $IMAPFLOW_VERSION could not be installed from" \
             "the npm registry; its client test will be skipped" >&2
    fi
fi
