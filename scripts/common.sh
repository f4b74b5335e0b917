# Shared by the scripts: the Debian packages each job needs, and a way to
# install the missing ones.

BUILD_PACKAGES=(cmake make g++ pkg-config libgtk2.0-dev)
TEST_PACKAGES=(libgtest-dev xvfb xdotool libx11-dev procps)
DEMO_PACKAGES=(xvfb xdotool)

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
