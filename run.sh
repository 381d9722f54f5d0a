#!/usr/bin/env bash
# Builds the server (Release) and starts it in the host stand-in on the demo store in
# demo-store/, which is made first when it is missing. Ctrl-C stops the server.
# Extra arguments go to orvex-host, e.g. ./run.sh --journal host-calls.txt
set -euo pipefail
cd "$(dirname "$0")"

# What the build needs, installed when missing (a fresh machine).
tests/install_packages.sh cmake g++ libssl-dev openssl

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORV_TESTS=OFF >/dev/null
cmake --build build --target orvex-host orimapst -j"$(nproc)"

store=demo-store
if [ ! -d "$store" ]; then
    # Made beside its final name and renamed, so an interrupted run leaves no half store.
    rm -rf "$store.new"
    build/bin/orvex-host --mailbox "$store.new" --make-demo
    # A self-signed certificate: STARTTLS on the port, and implicit TLS on a second one.
    build/bin/orimapst --mailbox "$store.new" make-cert >/dev/null
    build/bin/orimapst --mailbox "$store.new" set TlsPort 10993 >/dev/null
    mv "$store.new" "$store"
fi

port=$(sed -n 's/^PortNo=\([0-9][0-9]*\).*/\1/p' "$store/Imap4.ini" | head -n 1)
port=${port:-143}
tls_port=$(sed -n 's/^TlsPort=\([0-9][0-9]*\).*/\1/p' "$store/Imap4.ini" | head -n 1)
tls_port=${tls_port:-0}
cat <<EOF

The demo store is in $store/ (delete it to start again). Connect with:
  curl -u demo:demo imap://127.0.0.1:$port/              (lists the folders)
  curl -u demo:demo 'imap://127.0.0.1:$port/INBOX;UID=1'  (one message)
  curl --ssl-reqd --cacert $store/imap-cert.pem -u demo:demo imap://127.0.0.1:$port/
                                                        (the same over STARTTLS)
  openssl s_client -connect 127.0.0.1:$tls_port -CAfile $store/imap-cert.pem
                                                        (implicit TLS, when TlsPort is set)
  Thunderbird: a new mail account, IMAP server 127.0.0.1, port $port, no connection
  security, normal password, user name demo, password demo.
Folder names as directory names instead of titles:
  build/bin/orimapst --mailbox $store set FolderName 0
Press Ctrl-C to stop the server.

EOF
exec build/bin/orvex-host --mailbox "$store" "$@"
