# What the sanitizer scripts share; sourced by them. Goes to the top of the checkout, installs
# the packages a build needs, and defines show_reports.
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
root=$(pwd)

tests/install_packages.sh cmake ninja-build g++ libgtest-dev libgmock-dev python3 libssl-dev openssl

# show_reports DIR TITLE: prints every report file under DIR (a sanitizer's log_path) under a
# heading of TITLE; sets failed=1 when there is one, and reports to their number.
show_reports() {
    local found f
    found=$(find "$1" -type f | sort)
    reports=$(echo -n "$found" | grep -c . || true)
    for f in $found; do
        echo "===== $2 $f"
        cat "$f"
    done
    if [ -n "$found" ]; then
        failed=1
    fi
}
