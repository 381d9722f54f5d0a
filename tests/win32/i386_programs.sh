# Makes 32-bit (i386) Linux programs run, which Wine needs for a 32-bit Windows program. Most
# kernels run them natively; some are built without that ("IA-32 emulation off": every i386
# execve fails with "Exec format error"). There the user-mode emulator qemu-i386 is installed
# (the 10.x build of Debian's backports: the 7.2 of bookworm itself needs minutes per Wine
# start) and registered as the kernel's handler for i386 programs, for this run only.
# Sourced by tests/win32/run.sh: ensure_i386_programs, then release_i386_programs at exit.
# ORV_I386_EMULATOR=1 uses the emulator even where the kernel runs i386 natively (the kernel asks
# a registered handler first), so that path can be tried on any machine.

i386_handler=/proc/sys/fs/binfmt_misc/orv-qemu-i386
i386_registered=""

# Writes the smallest i386 program (exit(0) by the int 0x80 system call, no libraries) to $1.
write_i386_probe() {
    python3 - "$1" <<'PY'
import struct, sys
code = b"\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80"  # mov eax,1; xor ebx,ebx; int 0x80
base, ehdr, phdr = 0x08048000, 52, 32
size = ehdr + phdr + len(code)
header = b"\x7fELF\x01\x01\x01\x00" + b"\x00" * 8 + struct.pack(
    "<HHIIIIIHHHHHH", 2, 3, 1, base + ehdr + phdr, ehdr, 0, 0, ehdr, phdr, 1, 0, 0, 0)
segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(header + segment + code)
PY
    chmod +x "$1"
}

i386_runs() {
    local probe rc=0
    probe=$(mktemp)
    write_i386_probe "$probe"
    "$probe" 2>/dev/null || rc=$?
    rm -f "$probe"
    return $rc
}

# apt-get, waiting for another apt or dpkg to let go of its lock rather than failing on it.
apt_wait() {
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 "$@"
}

# The emulator at version 10 or later: Debian's backports for bookworm hold it as qemu-user
# (static binaries since 10.0).
install_emulator() {
    local version
    version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [ -n "$version" ] && dpkg --compare-versions "$version" ge 1:10 && [ -x /usr/bin/qemu-i386 ]; then
        return 0
    fi
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    local suite=()
    if [ "$codename" = bookworm ]; then
        if ! grep -rqs "bookworm-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
            echo "deb http://deb.debian.org/debian bookworm-backports main" \
                >/etc/apt/sources.list.d/bookworm-backports.list
        fi
        suite=(-t bookworm-backports)
    fi
    echo "installing qemu-user ${suite[*]} (the kernel runs no 32-bit programs)"
    local log
    log=$(mktemp)
    if ! { apt_wait update -qq &&
        apt_wait install -y -qq --no-install-recommends "${suite[@]}" qemu-user; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

# Registers qemu-i386 for i386 ELF programs under a name of our own. "F" opens the emulator
# now, so programs find it whatever their root; "P" keeps their argv[0], which Wine's loader
# reads (the emulator's "-binfmt-P" name tells it so).
register_emulator() {
    local misc=/proc/sys/fs/binfmt_misc
    [ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc" || return 1
    [ -e "$i386_handler" ] && return 0
    local interpreter=/usr/libexec/qemu-binfmt/i386-binfmt-P
    [ -x "$interpreter" ] || return 1
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":orv-qemu-i386:M::$magic:$mask:$interpreter:PF" >"$misc/register" || return 1
    i386_registered=1
}

ensure_i386_programs() {
    if [ "${ORV_I386_EMULATOR:-0}" != 1 ] && i386_runs; then
        return 0
    fi
    if install_emulator && register_emulator && i386_runs; then
        echo "32-bit programs run under qemu-i386 for this test"
        return 0
    fi
    echo "tests/win32/run.sh: this machine runs no 32-bit programs, and the qemu-i386" \
        "emulator could not be installed or registered" >&2
    exit 1
}

# Takes the handler away again, so the machine runs i386 programs as before the test.
release_i386_programs() {
    if [ -n "$i386_registered" ] && [ -e "$i386_handler" ]; then
        echo -1 >"$i386_handler" || true
    fi
}
