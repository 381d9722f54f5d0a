#!/usr/bin/env bash
# Cross-builds the plug-in (OrvImapS.dll), its setup module (OrImapSt.dll) and the host stand-in
# (orvex-host.exe) for 32-bit Windows into build-win32/, checks the plug-in's exports, and runs
# the smoke test: the host under Wine, on a Japanese system (code page 932), served to an IMAP
# client on Linux. Installs the cross compiler and Wine when they are missing, and an emulator of
# 32-bit programs when the kernel cannot run them.
# Usage: tests/win32/run.sh [LINUX_BUILD_DIR]
# With a Linux build directory (holding bin/orvex-host), the smoke also checks that one session
# gets the same bytes from the Windows build as from the Linux build.
set -euo pipefail
native=""
[ $# -gt 0 ] && native=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
root=$PWD
build=build-win32

packages=(cmake ninja-build python3 g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    # Wine runs 32-bit Windows programs with the i386 libraries.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    log=$(mktemp)
    if ! { $SUDO apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
            "${missing[@]}"; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
fi

cmake -S . -B "$build" -G Ninja --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only what is not progress (warnings, errors) is shown.
if ! cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1; then
    grep -v '^\[' "$build/build.log" >&2 || true
    exit 1
fi
grep -v '^\[\|^ninja: no work to do' "$build/build.log" || true

# The plug-in exports exactly its twenty entry points, under their plain names.
expected="OPCCleanUp OPCFolderClose OPCFolderCreate OPCFolderEndRetrieve OPCFolderInitMenu
OPCFolderLoad OPCFolderPreOpenView OPCGetPlugName OPCRecFilter OPCSendClose OPCSendCreate
OPCSendInitMenu OPCSendPost OPCSetup OPCStartUp OPCVersionInfo OPCViewClose OPCViewCreate
OPCViewInitMenu OPCViewLoadMail"
exported=$(i686-w64-mingw32-objdump -p "$build/bin/OrvImapS.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
if [ "$(echo $exported)" != "$(echo $expected)" ]; then
    echo "OrvImapS.dll exports differ from the twenty entry points:" >&2
    echo "$exported" >&2
    exit 1
fi
echo "OrvImapS.dll exports the twenty entry points"

# Wine runs the 32-bit DLL with 32-bit Linux programs, which some kernels refuse.
source tests/win32/i386_programs.sh
ensure_i386_programs

# A throw-away Wine prefix for 32-bit programs; no window ever reaches a display.
export WINEPREFIX="$root/$build/wine-prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true; release_i386_programs' EXIT
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
# The desktop process that wineboot started keeps the driver it started with; once the prefix
# goes idle and is saved, the next start draws with the null driver.
wineserver -w

ORV_WIN32_BUILD="$root/$build" ORV_NATIVE_BUILD="$native" \
    python3 -m unittest -v tests/win32/smoke_test.py 2>&1
