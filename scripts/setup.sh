# Sourced by ./run and ./test: makes sure the tools are here, installing them
# on Debian when run as root, and that 32-bit Windows programs can run.
# Prints what is missing and exits non-zero when it cannot fix it itself.

tovrel_die() {
    echo "error: $*" >&2
    exit 1
}

tovrel_packages_missing() {
    local missing=()
    command -v cmake >/dev/null || missing+=(cmake)
    command -v g++ >/dev/null || missing+=(g++)
    command -v python3 >/dev/null || missing+=(python3)
    command -v clang++ >/dev/null || missing+=(clang)
    # libFuzzer and the sanitizers' runtime for clang
    ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-dev)
    command -v i686-w64-mingw32-g++ >/dev/null || missing+=(g++-mingw-w64-i686)
    [ -f /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ] || [ -f /usr/lib/cmake/GTest/GTestConfig.cmake ] ||
        missing+=(libgtest-dev)
    [ -x /usr/lib/wine/wine ] || missing+=(wine32:i386)
    command -v wine >/dev/null || missing+=(wine)
    # The 64-bit server runs natively even where the 32-bit programs cannot.
    [ "$(dpkg --print-architecture 2>/dev/null)" != amd64 ] || [ -x /usr/lib/wine/wineserver64 ] || missing+=(wine64)
    echo "${missing[@]}"
}

tovrel_install_packages() {
    local missing
    missing=$(tovrel_packages_missing)
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
        tovrel_die "missing: $missing
install them as root on Debian with:
  dpkg --add-architecture i386 && apt-get update &&
  apt-get install --no-install-recommends cmake g++ python3 clang libclang-rt-dev libgtest-dev g++-mingw-w64-i686 wine wine32:i386 wine64"
    fi
    echo "installing: $missing" >&2
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -qq || tovrel_die "apt-get update failed"
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null ||
        tovrel_die "apt-get install $missing failed"
}

# Wine for 32-bit programs is itself a 32-bit Linux program. Where the kernel
# runs none (ia32 emulation switched off), run them through qemu's user-mode
# i386 emulator, registered with binfmt_misc. qemu before 8 maps memory for
# Wine so slowly (about a minute a process) that it takes the one from
# bookworm-backports.
tovrel_qemu_major() {
    "$1" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p'
}

tovrel_enable_32bit() {
    local misc=/proc/sys/fs/binfmt_misc qemu=/usr/bin/qemu-i386-static
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        # Native, or through a registered qemu that is recent enough.
        local used
        used=$(QEMU_VERSION=1 /usr/lib/wine/wine 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
        [ -z "$used" ] || [ "$used" -ge 8 ] && return 0
    fi
    local why="this kernel does not run 32-bit Linux programs, which Wine for 32-bit Windows programs is"
    if [ "$(id -u)" != 0 ]; then
        tovrel_die "$why; as root: apt-get install qemu-user-static (version 8 or later, from bookworm-backports on Debian 12), then register $qemu for i386 ELF programs with binfmt_misc (flag F)"
    fi
    local major
    major=$(tovrel_qemu_major "$qemu")
    if [ -z "$major" ] || [ "$major" -lt 8 ]; then
        echo "installing: qemu-user-static ($why)" >&2
        local suite=()
        if grep -q '^VERSION_CODENAME=bookworm$' /etc/os-release 2>/dev/null; then
            local list=/etc/apt/sources.list.d/debian-backports.sources
            if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
                printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
                    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$list"
            fi
            apt-get update -qq || tovrel_die "apt-get update failed"
            suite=(-t bookworm-backports)
        fi
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${suite[@]}" \
            qemu-user-static >/dev/null || tovrel_die "apt-get install qemu-user-static failed"
        major=$(tovrel_qemu_major "$qemu")
        [ -n "$major" ] && [ "$major" -ge 8 ] || tovrel_die "qemu-user-static 8 or later is needed, $qemu is ${major:-missing}"
    fi
    [ -f "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc" || tovrel_die "cannot mount $misc"
    # Registered afresh, so that it opens the qemu installed now.
    [ -e "$misc/qemu-i386" ] && echo -1 >"$misc/qemu-i386"
    printf '%s' ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" \
        >"$misc/register" || tovrel_die "cannot register qemu-i386 with binfmt_misc"
    /usr/lib/wine/wine --version >/dev/null 2>&1 || tovrel_die "$why, and running them through qemu-i386 failed too"
}

tovrel_setup() {
    tovrel_install_packages
    tovrel_enable_32bit
}

# Runs a command quietly; shows what it printed when it fails.
tovrel_quiet() {
    local log
    log=$(mktemp)
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        tovrel_die "failed: $*"
    fi
    rm -f "$log"
}
