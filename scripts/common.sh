# shellcheck shell=bash disable=SC2034 # a library: the scripts that source it read its lists
# Shared by the scripts: the Debian packages each job needs, a way to
# install the missing ones, the X server and background processes of the
# scripts that run the watchdog, the X server's pid, and (from
# scripts/proc.sh) the small facts they read off /proc.

BUILD_PACKAGES=(cmake make g++ pkg-config libgtk2.0-dev)
# The device trial draws its pictures with gnuplot; its test draws one.
PLOT_PACKAGES=(gnuplot-nox)
# busybox: the device's shell, under which the /proc library is checked;
# attr: setfattr marks a cgroup delegated, as systemd's Delegate=yes does.
TEST_PACKAGES=(libgtest-dev xvfb xdotool libx11-dev procps busybox strace util-linux attr "${PLOT_PACKAGES[@]}")
DEMO_PACKAGES=(xvfb xdotool)
PACKAGE_PACKAGES=(dpkg-dev file man-db groff-base lintian desktop-file-utils)
CROSS_PACKAGES=(g++-mipsel-linux-gnu g++-mips-linux-gnu qemu-user dpkg-dev file)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
MEMCHECK_PACKAGES=(valgrind xvfb xdotool util-linux mount)
QUALITY_PACKAGES=(cppcheck clang-tidy devscripts binutils shellcheck
                  "${FUZZ_PACKAGES[@]}" "${MEMCHECK_PACKAGES[@]}")
# Optional: builds go through it when it is installed (compiler_launcher).
CACHE_PACKAGES=(ccache)
SYSTEM_PACKAGES=(qemu-system-mips cpio gzip e2fsprogs util-linux)
BENCH_PACKAGES=(xvfb strace procps binutils libbenchmark-dev util-linux mount)
# Everything scripts/test-all needs.
CI_PACKAGES=("${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
             "${CROSS_PACKAGES[@]}" "${SYSTEM_PACKAGES[@]}" "${QUALITY_PACKAGES[@]}"
             "${CACHE_PACKAGES[@]}")

# The cmake options every script configures a build directory with: ccache
# in front of the compilers (the host's, clang, the cross ones) when it is
# installed, so that a fresh clone compiles only what this machine has not
# compiled before; without it, no launcher, even in a build directory that
# had one. ccache's key holds the compiler and every flag, so a sanitizer,
# fuzzer or hardened build never takes another's objects. Paths under the
# repository count relative to it: clones in other places share the cache.
if command -v ccache >/dev/null 2>&1; then
    compiler_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
    export CCACHE_BASEDIR
else
    compiler_launcher=(-DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER=)
fi

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

# A private apt for Debian bookworm packages of another architecture, at the
# host's own mirror: an empty status file and its own lists, so the host's
# package database is never touched. Sets apt_opts (for apt-get and
# apt-cache) and apt_state (a directory the caller removes); downloads go to
# the archive directory given.
private_apt() {
    local arch=$1 archives=$2 mirror='' keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    local f keyring_found
    # The mirror and keyring, from the host's deb822 or one-line sources.
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -r "$f" ] || continue
        read -r mirror keyring_found < <(awk '
            /^$/ { if (uri && suites ~ /(^| )bookworm( |$)/) { print uri, key; exit } uri = suites = key = "" }
            /^URIs:/ { uri = $2 }
            /^Suites:/ { $1 = ""; suites = $0 " " }
            /^Signed-By:/ { key = $2 }
            END { if (uri && suites ~ /(^| )bookworm( |$)/) print uri, key }' "$f") || true
        [ -n "$mirror" ] && { [ -n "${keyring_found:-}" ] && keyring=$keyring_found; break; }
    done
    if [ -z "$mirror" ] && [ -r /etc/apt/sources.list ]; then
        mirror=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' /etc/apt/sources.list)
    fi
    [ -n "$mirror" ] || { echo "no bookworm mirror in the host's apt sources" >&2; return 1; }

    apt_state=$(mktemp -d)
    mkdir -p "$apt_state/lists/partial" "$archives/partial" "$apt_state/parts" "$apt_state/prefs"
    touch "$apt_state/status"
    cat >"$apt_state/sources.list" <<SOURCES
deb [arch=$arch signed-by=$keyring] $mirror bookworm main
deb [arch=$arch signed-by=$keyring] $mirror bookworm-updates main
SOURCES
    apt_opts=(
        -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch"
        -o "Dir::State=$apt_state" -o "Dir::State::status=$apt_state/status"
        -o "Dir::State::Lists=$apt_state/lists"
        -o "Dir::Cache=$apt_state" -o "Dir::Cache::Archives=$archives"
        -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
        -o "Dir::Etc::SourceList=$apt_state/sources.list" -o "Dir::Etc::SourceParts=$apt_state/parts"
        -o "Dir::Etc::Preferences=$apt_state/prefs/none" -o "Dir::Etc::PreferencesParts=$apt_state/prefs"
        -o "APT::Update::Post-Invoke::=" -o "Acquire::Languages=none"
        -o "Debug::NoLocking=1" -o "APT::Install-Recommends=0" -o "APT::Sandbox::User=root"
    )
    apt-get "${apt_opts[@]}" -qq update
}

# The pages a browser is given: one table of $1 rows, written to $2. The big
# one (about 8 MB) is more than the emulated 64 MiB device can show; the fit
# one (about half a megabyte) the device shows in RAM.
BIG_PAGE_ROWS=110000
FIT_PAGE_ROWS=6000
table_page() {
    awk -v rows="$1" 'BEGIN {
        print "<html><head><title>A large table</title></head><body><table border=1>"
        for (i = 0; i < rows; i++)
            printf "<tr><td>%d</td><td>row %d of a large table</td><td>%d</td></tr>\n", i, i, i * 7
        print "</table></body></html>"
    }' >"$2"
}

# The mipsel package, from build-mipsel as scripts/cross-test leaves it:
# build-mipsel/browser-watchdog_<version>_mipsel.deb.
mipsel_package() {
    (cd build-mipsel && rm -f ./browser-watchdog_*.deb && DEB_HOST_ARCH=mipsel cpack -G DEB >/dev/null)
}

# The package $2 installed into the root directory $1 as a device's image
# is made from outside it: dpkg --root, the maintainer scripts run here on
# DPKG_ROOT. Its dependencies are unpacked there, not installed: dpkg does
# not know them. Documentation left out, as an image leaves it out.
install_into_root() {
    mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates"
    [ -e "$1/var/lib/dpkg/status" ] || : >"$1/var/lib/dpkg/status"
    dpkg --root="$1" --force-script-chrootless --force-architecture --force-depends \
        --path-exclude='/usr/share/doc/*' --path-exclude='/usr/share/man/*' -i "$2"
}

# Runs a named step of a long script, with its time.
step() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name"
    "$@"
    echo "== $name: $((SECONDS - start)) s"
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
    DISPLAY=":$(head -n1 "$1/display")"
    export DISPLAY
}

# Whether the X server $1 serves display $2: its socket is there and, unless
# it runs without a lock file (nolock as $3), its lock file holds its pid.
# Another test may start a server on the same free display at the same
# moment; only one of them takes it.
x_serves() {
    [ -e "/tmp/.X11-unix/X$2" ] || return 1
    [ -n "${3:-}" ] || [ "$(tr -d ' \n' <"/tmp/.X$2-lock" 2>/dev/null)" = "$1" ]
}

# The pid that the X server of display $1 (":0", ":0.0") wrote into its
# lock file, on stdout; fails when there is no lock file or no pid in it.
x_server_pid() {
    local n=${1#*:} pid
    n=${n%%.*}
    pid=$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null) || return 1
    [[ $pid =~ ^[0-9]+$ ]] || return 1
    echo "$pid"
}

# The facts read off /proc (a process's state, the pids of a name, RAM
# plus swap...), shared with the emulated device's scripts.
# shellcheck source=scripts/proc.sh
. "$(dirname "${BASH_SOURCE[0]}")/proc.sh"
