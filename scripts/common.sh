# Shared by the scripts: the Debian packages each job needs, a way to
# install the missing ones, and the X server and background processes of
# the scripts that run the watchdog.

BUILD_PACKAGES=(cmake make g++ pkg-config libgtk2.0-dev)
TEST_PACKAGES=(libgtest-dev xvfb xdotool libx11-dev procps)
DEMO_PACKAGES=(xvfb xdotool)
PACKAGE_PACKAGES=(dpkg-dev file man-db groff-base)
CROSS_PACKAGES=(g++-mipsel-linux-gnu g++-mips-linux-gnu qemu-user dpkg-dev file)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
MEMCHECK_PACKAGES=(valgrind xvfb xdotool util-linux mount)
QUALITY_PACKAGES=(cppcheck clang-tidy devscripts binutils
                  "${FUZZ_PACKAGES[@]}" "${MEMCHECK_PACKAGES[@]}")
BENCH_PACKAGES=(xvfb strace procps binutils libbenchmark-dev)
# Everything scripts/test-all needs.
CI_PACKAGES=("${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
             "${CROSS_PACKAGES[@]}" "${QUALITY_PACKAGES[@]}")

# Installs those of the named packages that are missing (as root), or says
# which are missing and fails.
need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages: ${missing[*]} (install them as root)" >&2
        return 1
    fi
    echo "installing: ${missing[*]}"
    apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
}

# Background processes to end when the script ends: call end_children from
# its EXIT trap.
children=()
end_children() {
    [ ${#children[@]} -eq 0 ] || kill "${children[@]}" 2>/dev/null || true
}

# Starts Xvfb on a free display and exports DISPLAY; its pid is xvfb_pid,
# its display number and log go into the directory given.
start_xvfb() {
    Xvfb -displayfd 1 -nolisten tcp -screen 0 1024x768x24 >"$1/display" 2>"$1/xvfb.log" &
    xvfb_pid=$!
    children+=("$xvfb_pid")
    for _ in $(seq 100); do
        [ -s "$1/display" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$1/display")"
}
