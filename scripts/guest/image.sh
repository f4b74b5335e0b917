# shellcheck shell=bash
# The emulated MIPS32 device, shared by the CI scenario (scripts/mips-system)
# and the device trial (bench/device): the mipsel build, Debian's Malta
# kernel, a root file system on a virtual IDE disk (an ext4 image made with
# mke2fs -d, no mounting, no privileges), a small initramfs that loads the
# disk's modules and switches to it, and the boot itself.
#
# Source after scripts/common.sh. Downloads are kept in $cache; the images go
# to $guest_dir (set by guest_image). Which script the guest runs after the
# switch is the boot's choice: guest=NAME on the kernel's command line runs
# /opt/watchdog/NAME.

# Its users source scripts/common.sh first; one that did not gets it here.
# shellcheck source=scripts/common.sh
[ -n "${BUILD_PACKAGES+set}" ] || . scripts/common.sh

cache=${SYSROOT_DIR:-/var/cache/browser-watchdog}
guest_sysroot=$cache/sysroot-mipsel

# What the guest runs: its shell, the X server, the toolkit's runtime and a
# font for the dialog's text, the user's hands and the peer the trial
# compares with; beside them the one real browser the guest opens pages
# in, the package BROWSER_PACKAGE (default: dillo; empty: none, for a
# browser of our own programs).
GUEST_PACKAGES=(busybox-static xvfb xdotool libgtk2.0-0 libstdc++6 libx11-6
                fonts-dejavu-core earlyoom)
# Pulled in through libgl1 but never loaded with GLX off, and tools the
# guest has no use for: left out of the root file system, but a library
# that something in it links (guest_linked).
GUEST_LEFT_OUT='^(libgl1-mesa-dri|libglx-mesa0|libllvm.*|libz3-.*|libicu.*|libxml2|libsensors.*|libedit2|libelf1|libdrm-(amdgpu|nouveau|radeon|intel).*|perl.*|libperl.*|debconf.*|dpkg|tar|coreutils|gcc-12-base|mesa-.*|systemd.*|libsystemd-shared|init-system-helpers|adduser|passwd|login|util-linux.*|mount|procps|lsb-base|sysvinit-utils)_'
# The disk's driver and file system: modules in Debian's Malta kernel, in
# the order they depend on each other.
GUEST_MODULES=(lib/crc16 fs/mbcache fs/jbd2/jbd2 crypto/crc32c_generic fs/ext4/ext4
               drivers/ata/ata_piix)
# Compressed swap in RAM, for the trial's R+zS and R+S+zZ shapes: zram and its
# allocator (lzo-rle, its default compressor, is built in), loaded by the
# guest from /opt/watchdog/modules in this order.
GUEST_ZRAM_MODULES=(mm/zsmalloc drivers/block/zram/zram)
# A device shape, RAM+swap in MiB: R+S, a swap disk of S MiB (0: none),
# R+zS, S MiB of zram instead, or R+S+zZ, both. Each of these prints a part
# of it, 0 for a swap area it lacks.
shape_ram_mib() { echo "${1%%+*}"; }
shape_disk_mib() {
    local disk=${1#*+}
    disk=${disk%%+*}
    case $disk in z*) echo 0 ;; *) echo "$disk" ;; esac
}
shape_zram_mib() { case ${1#*+} in z* | *+z*) echo "${1##*+z}" ;; *) echo 0 ;; esac; }

# The guest's tools, built for mipsel; the watchdog and the session come
# in the package.
GUEST_TARGETS=(memory-hog floor input_grabber device-probe band-capture standin-grower freeze-watch)

# The tools and the mipsel package a device installs, in build-mipsel
# (guest_deb).
guest_build() {
    bash scripts/cross-sysroot mipsel "$guest_sysroot" libgtk2.0-dev libc6-dev libstdc++-12-dev
    cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
        -DCROSS_SYSROOT="$guest_sysroot" "${compiler_launcher[@]}" >/dev/null
    cmake --build build-mipsel -j"$(nproc)" --target "${GUEST_TARGETS[@]}" >/dev/null
    mipsel_package
    guest_deb=$(compgen -G "build-mipsel/browser-watchdog_*_mipsel.deb")
}

# The package, installed into the root directory $1 as a device's image is
# made (install_into_root).
guest_install_package() {
    install_into_root "$1" "$guest_deb" >/dev/null 2>&1 ||
        { echo "dpkg --root could not install $guest_deb" >&2; return 1; }
    echo "guest package: $(dpkg-deb -f "$guest_deb" Package Version | tr '\n' ' ')"
}

# The newest Malta kernel, through the meta-package (its ABI name changes):
# sets vmlinuz and kernel_deb.
guest_kernel() {
    mkdir -p "$cache/debs-kernel"
    private_apt mipsel "$cache/debs-kernel"
    local name
    name=$(apt-cache "${apt_opts[@]}" depends linux-image-4kc-malta |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }')
    rm -rf "$apt_state"
    [ -n "$name" ] || { echo "no linux-image-4kc-malta in the archive" >&2; return 1; }
    vmlinuz=$cache/vmlinuz-${name#linux-image-}
    kernel_deb=$(compgen -G "$cache/debs-kernel/${name}_*.deb" | head -n1 || true)
    if [ -z "$kernel_deb" ]; then
        private_apt mipsel "$cache/debs-kernel"
        (cd "$cache/debs-kernel" && apt-get "${apt_opts[@]}" -qq download "$name")
        rm -rf "$apt_state"
        kernel_deb=$(compgen -G "$cache/debs-kernel/${name}_*.deb" | head -n1)
    fi
    [ -s "$vmlinuz" ] ||
        dpkg-deb --fsys-tarfile "$kernel_deb" | tar -xO --wildcards './boot/vmlinuz-*' >"$vmlinuz"
    echo "kernel: $name $(dpkg-deb -f "$kernel_deb" Version)"
}

# Unpacks the guest's packages, our programs, scripts and pages into a
# directory, then makes of it root.img (ext4), initrd.cpio.gz and an empty
# swap disk of $1 MiB (0: none), all in $guest_dir. Further arguments are
# files to copy into /opt/watchdog. Pages: big and fit, and for every
# rows=N in $GUEST_ROWS the same table of N rows as /opt/pages/rows=N.html.
guest_image() {
    local swap_mib=$1 root root_mib
    shift
    guest_dir=$(mktemp -d)
    root=$guest_dir/root
    guest_packages "$root"
    guest_install_package "$root"
    guest_programs "$root" "$@"
    guest_pages "$root"
    root_mib=$(($(du -sm "$root" | cut -f1) * 5 / 4 + 48))
    mke2fs -q -t ext4 -L root -d "$root" -F "$guest_dir/root.img" "${root_mib}M"
    guest_initramfs "$root"
    guest_swap_mib=$swap_mib
    guest_swap "$swap_mib"
    echo "guest image: $guest_package_count packages, $(du -sh "$root" | cut -f1) unpacked;" \
        "root.img $root_mib MiB; initramfs $(du -h "$guest_dir/initrd.cpio.gz" | cut -f1);" \
        "swap ${swap_mib} MiB"
    rm -rf "$root"
}

# The guest's Debian packages, but those it has no use for, unpacked into
# the root directory $1 (its /bin, /sbin and /lib links into /usr, as
# Debian's are); their number is guest_package_count. Only this set's
# packages: the cache also holds those of other browsers.
guest_packages() {
    local root=$1 aside=$guest_dir/aside deb d d2 packages=("${GUEST_PACKAGES[@]}") debs
    local left_out=() gconv base
    [ -z "${BROWSER_PACKAGE-dillo}" ] || packages+=("${BROWSER_PACKAGE-dillo}")
    mkdir -p "$cache/debs-guest"
    private_apt mipsel "$cache/debs-guest"
    apt-get "${apt_opts[@]}" -qq -y --download-only install "${packages[@]}" >/dev/null
    # NAME_VERSION_ of each, as apt names the files it downloads.
    mapfile -t debs < <(apt-get "${apt_opts[@]}" -s install "${packages[@]}" |
        awk '$1 == "Inst" { v = substr($3, 2); gsub(/:/, "%3a", v); print $2 "_" v "_" }')
    rm -rf "$apt_state"
    for d in "$root" "$aside"; do
        mkdir -p "$d/usr/bin" "$d/usr/sbin" "$d/usr/lib"
        for d2 in bin sbin lib; do ln -s "usr/$d2" "$d/$d2"; done
    done
    guest_package_count=0
    for d in "${debs[@]}"; do
        deb=$(compgen -G "$cache/debs-guest/${d}*.deb") ||
            { echo "no $d*.deb in $cache/debs-guest" >&2; return 1; }
        # The packages left out go aside: the caches' tools may link them.
        if basename "$deb" | grep -qE "$GUEST_LEFT_OUT"; then
            left_out+=("$deb")
            dpkg-deb --fsys-tarfile "$deb" | tar -x --keep-directory-symlink -C "$aside"
            continue
        fi
        dpkg-deb --fsys-tarfile "$deb" | tar -x --keep-directory-symlink -C "$root"
        guest_package_count=$((guest_package_count + 1))
    done
    # What a C-locale GTK program never reads; the few icons it draws come
    # with the toolkit itself (GTK+ 2's stock icons, GTK 3's fallbacks).
    rm -rf "$root"/usr/share/{doc,man,locale,info,lintian,icons}
    # Of glibc's character sets only its base ones (gconv-modules, without
    # the extra ones of gconv-modules.d and the cache that lists them all):
    # Windows-1252 is what a browser reads a page as that names none.
    gconv=$root/usr/lib/mipsel-linux-gnu/gconv
    rm -rf "$gconv/gconv-modules.d" "$gconv/gconv-modules.cache"
    base=$(awk '$1 == "module" { print $4 ".so" }' "$gconv/gconv-modules")
    for d in "$gconv"/*.so; do grep -qxF "${d##*/}" <<<"$base" || rm -f "$d"; done
    guest_linked "$root" "${left_out[@]}"
    guest_caches "$root" "$aside"
    rm -rf "$aside"
    mkdir -p "$root/proc" "$root/sys" "$root/dev" "$root/tmp" "$root/var/results" "$root/root"
}

# The tools that build the root's caches (guest_caches), paths in it: run
# under qemu-user when the image is made, never in the guest.
GUEST_CACHE_TOOLS=(usr/lib/mipsel-linux-gnu/gdk-pixbuf-2.0/gdk-pixbuf-query-loaders
                   usr/bin/update-mime-database usr/lib/mipsel-linux-gnu/glib-2.0/glib-compile-schemas)

# Of the left-out packages given after the root directory $1, unpacks into
# it those with a library that the root's programs and libraries link
# (an SVG renderer's XML parser), and then those their libraries link.
guest_linked() {
    local root=$1 i added=1 needed sonames tool exclude=()
    shift
    local rest=("$@")
    for tool in "${GUEST_CACHE_TOOLS[@]}"; do exclude+=(! -path "$root/$tool"); done
    while [ "$added" -eq 1 ] && [ ${#rest[@]} -gt 0 ]; do
        added=0
        # readelf fails on the files that are no ELF (scripts), and says so.
        needed=$(find "$root/usr" -type f \( -name '*.so*' -o -perm -u+x \) "${exclude[@]}" \
            -exec mipsel-linux-gnu-readelf -d {} + 2>/dev/null |
            sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | sort -u) || true
        for i in "${!rest[@]}"; do
            sonames=$(dpkg-deb -c "${rest[$i]}" |
                awk '{ n = split($6, p, "/"); if (p[n] ~ /\.so/) print p[n] }')
            grep -qxF "$needed" <<<"$sonames" || continue
            dpkg-deb --fsys-tarfile "${rest[$i]}" | tar -x --keep-directory-symlink -C "$root"
            guest_package_count=$((guest_package_count + 1))
            unset 'rest[i]'
            added=1
        done
    done
}

# What Debian's maintainer scripts would make of the packages, and
# dpkg-deb alone does not, for the root directory $1: the image loaders'
# list, the shared MIME database (GIO's content types, by which images are
# loaded) and the compiled GSettings schemas (GTK 3 reads its settings
# through them). Each is made when the packages carry its tool, the mipsel
# one under qemu-user, which finds the left-out libraries it may link in
# the directory $2; the schemas with the host's tool when theirs is absent.
guest_caches() {
    local root=$1 aside=$2 lib=usr/lib/mipsel-linux-gnu
    # Paths given to the tools are the host's: qemu-user looks a path up in
    # the root first and falls back to the host's, which a file the tool
    # creates would get. The MIME tool warns of a directory not in
    # XDG_DATA_DIRS.
    guest_run() {
        qemu-mipsel -L "$root" -E "LD_LIBRARY_PATH=$aside/$lib" -E "XDG_DATA_DIRS=$root/usr/share" \
            "$root/$1" "${@:2}"
    }
    if [ -x "$root/${GUEST_CACHE_TOOLS[0]}" ]; then
        guest_run "${GUEST_CACHE_TOOLS[0]}" >"$root/$lib/gdk-pixbuf-2.0/2.10.0/loaders.cache"
    fi
    if [ -x "$root/${GUEST_CACHE_TOOLS[1]}" ] && [ -d "$root/usr/share/mime/packages" ]; then
        guest_run "${GUEST_CACHE_TOOLS[1]}" "$root/usr/share/mime"
        # GIO reads mime.cache; the types' descriptions and their source stay
        # out.
        find "$root/usr/share/mime" -mindepth 1 -maxdepth 1 -type d -exec rm -rf {} +
    else
        rm -rf "$root/usr/share/mime"
    fi
    if compgen -G "$root/usr/share/glib-2.0/schemas/*.gschema.xml" >/dev/null; then
        if [ -x "$root/${GUEST_CACHE_TOOLS[2]}" ]; then
            guest_run "${GUEST_CACHE_TOOLS[2]}" "$root/usr/share/glib-2.0/schemas"
        else
            glib-compile-schemas "$root/usr/share/glib-2.0/schemas"
        fi
    fi
}

# Our programs, the guest's scripts and libraries, the zram modules and the
# files given after the root directory $1, into its /opt/watchdog.
guest_programs() {
    local root=$1 t m
    shift
    mkdir -p "$root/opt/watchdog/modules"
    for t in "${GUEST_TARGETS[@]}"; do
        find build-mipsel -maxdepth 2 -type f -name "$t" -exec cp {} "$root/opt/watchdog/" \;
    done
    install -m 755 tests/system/guest-init "$root/opt/watchdog/scenario"
    install -m 644 scripts/guest/lib.sh "$root/opt/watchdog/lib.sh"
    install -m 644 scripts/proc.sh "$root/opt/watchdog/proc.sh"
    install -m 755 tools/standin-tree "$root/opt/watchdog/standin-tree"
    for m in "${GUEST_ZRAM_MODULES[@]}"; do
        dpkg-deb --fsys-tarfile "$kernel_deb" |
            tar -xO --wildcards "./lib/modules/*/kernel/$m.ko" >"$root/opt/watchdog/modules/${m##*/}.ko"
    done
    [ $# -eq 0 ] || install -m 755 "$@" "$root/opt/watchdog/"
}

# The pages the browser opens, into the root directory $1's /opt/pages.
guest_pages() {
    local root=$1 rows
    mkdir -p "$root/opt/pages"
    table_page "$BIG_PAGE_ROWS" "$root/opt/pages/big.html"
    table_page "$FIT_PAGE_ROWS" "$root/opt/pages/fit.html"
    for rows in ${GUEST_ROWS:-}; do table_page "${rows#rows=}" "$root/opt/pages/$rows.html"; done
    # A page of the caller's, under the name the trial gives it.
    [ -z "${GUEST_PAGE:-}" ] || cp "$GUEST_PAGE" "$root/opt/pages/$PAGES.html"
}

# The initramfs, $guest_dir/initrd.cpio.gz: busybox from the root directory
# $1, the disk's modules and the switch.
guest_initramfs() {
    local initrd=$guest_dir/initrd m
    mkdir -p "$initrd/bin" "$initrd/lib/modules" "$initrd/dev" "$initrd/proc" "$initrd/sys" \
        "$initrd/newroot"
    cp "$1/usr/bin/busybox" "$initrd/bin/busybox"
    for m in "${GUEST_MODULES[@]}"; do
        dpkg-deb --fsys-tarfile "$kernel_deb" |
            tar -xO --wildcards "./lib/modules/*/kernel/$m.ko" >"$initrd/lib/modules/${m##*/}.ko"
    done
    # The order the initramfs loads them in.
    printf '%s\n' "${GUEST_MODULES[@]##*/}" >"$initrd/lib/modules/order"
    install -m 755 scripts/guest/initramfs-init "$initrd/init"
    (cd "$initrd" && find . | cpio -o -H newc --quiet | gzip -9) >"$guest_dir/initrd.cpio.gz"
    rm -rf "$initrd"
}

# The swap disk of $1 MiB, $guest_dir/swap-$1.img, made once. Without swap
# the second disk is there all the same, empty, so that the guest always
# finds its three disks in the same places.
guest_swap() {
    local img=$guest_dir/swap-$1.img
    [ -e "$img" ] && return 0
    truncate -s "$(($1 > 0 ? $1 : 1))M" "$img"
    [ "$1" -eq 0 ] || mkswap -q "$img" >/dev/null
}

GUEST_SILENCE_S=90
# Whether guest $1's console has the guest's own first line, or a failed
# boot (a panic, an initramfs it could not unpack).
booted() { grep -q '^guest: \[' "$guest_dir/$1.console"; }
boot_failed() { grep -q 'Kernel panic\|Initramfs unpacking failed' "$guest_dir/$1.console"; }

# Beside the boot of guest $1: ends it (its qemu) when its console stays
# empty for $GUEST_SILENCE_S s, or shows a failed boot before the guest's
# first line; returns once the guest has booted.
guest_boot_guard() {
    local name=$1
    for _ in $(seq $((GUEST_SILENCE_S * 10))); do
        [ -s "$guest_dir/$name.console" ] && break
        sleep 0.1
    done
    while [ -s "$guest_dir/$name.console" ] && ! booted "$name"; do
        boot_failed "$name" && break
        sleep 0.5
    done
    booted "$name" || kill "$(cat "$guest_dir/$name.pid")"
}

# Boots a copy of the image: guest_boot NAME RAM_MIB TIMEOUT_S [KERNEL_ARGS...],
# with the swap disk of $GUEST_SWAP_MIB MiB (default: guest_image's), which
# guest_swap must have made.
# The console goes to $guest_dir/NAME.console and, line by line, to the
# caller's standard output; what the guest leaves in /var/results comes back
# as the directory $guest_dir/NAME.results (the guest writes it as a tar
# archive on its third disk, /dev/disk-results, before it powers off; swap
# is /dev/disk-swap; the initramfs makes those names).
# Returns qemu's status.
guest_boot() {
    local name=$1 ram=$2 limit=$3 status attempt guard
    shift 3
    # The Malta kernel under emulation can hang before its first console
    # line; with little RAM (48 MiB) it can also find too little room to
    # unpack the initramfs, or panic before the guest's first line
    # ("Incorrect memory mapping"), and that early it hangs instead of
    # rebooting. Such a boot (guest_boot_guard) is ended and booted afresh,
    # twice at most.
    for attempt in 1 2 3; do
        status=0
        cp --sparse=always "$guest_dir/root.img" "$guest_dir/$name.root.img"
        truncate -s 0 "$guest_dir/$name.results.img"
        truncate -s 64M "$guest_dir/$name.results.img"
        cp --sparse=always "$guest_dir/swap-${GUEST_SWAP_MIB:-$guest_swap_mib}.img" \
            "$guest_dir/$name.swap.img"
        local drives=(
            -drive "file=$guest_dir/$name.root.img,format=raw,if=ide,index=0,cache=unsafe"
            -drive "file=$guest_dir/$name.swap.img,format=raw,if=ide,index=1,cache=unsafe"
            -drive "file=$guest_dir/$name.results.img,format=raw,if=ide,index=2,cache=unsafe")
        : >"$guest_dir/$name.console"
        rm -f "$guest_dir/$name.pid"
        guest_boot_guard "$name" 2>/dev/null &
        guard=$!
        timeout "$limit" qemu-system-mipsel -M malta -cpu 24Kf -m "$ram" -kernel "$vmlinuz" \
            -initrd "$guest_dir/initrd.cpio.gz" "${drives[@]}" \
            -append "console=ttyS0 rdinit=/init panic=-1 quiet $*" \
            -nographic -vga none -no-reboot -monitor none -serial stdio -net none \
            -pidfile "$guest_dir/$name.pid" \
            </dev/null | sed -u 's/\r$//' | tee "$guest_dir/$name.console" || status=$?
        kill "$guard" 2>/dev/null || true
        wait "$guard" 2>/dev/null || true
        if grep -q 'Initramfs unpacking failed' "$guest_dir/$name.console"; then
            echo "guest $name could not unpack its initramfs (boot $attempt of 3)" >&2
            continue
        fi
        if boot_failed "$name" && ! booted "$name"; then
            echo "guest $name panicked while booting (boot $attempt of 3)" >&2
            continue
        fi
        [ -s "$guest_dir/$name.console" ] && break
        echo "guest $name printed nothing in $GUEST_SILENCE_S s (boot $attempt of 3)" >&2
    done
    mkdir -p "$guest_dir/$name.results"
    tar -xf "$guest_dir/$name.results.img" -C "$guest_dir/$name.results" 2>/dev/null || true
    rm -f "$guest_dir/$name.root.img" "$guest_dir/$name.swap.img" "$guest_dir/$name.results.img" \
        "$guest_dir/$name.pid"
    return "$status"
}
