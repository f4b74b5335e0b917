# shellcheck shell=bash
# Every kernel a device ships, as its /proc shows the watchdog and the
# session: one table of which field each kernel prints, one of the system
# calls each lacks, and a writer of a /proc directory (meminfo, swaps,
# zoneinfo, and status and statm of the X server and the browser) laid out
# as that kernel lays it out, for one device shape.
#
# The files are constructed from these tables and the kernels' print
# formats, not captured from those kernels: only what the tables name
# changes from one kernel to the next.

# A column per fact, y where the kernel prints it, - where it does not;
# the first line names the columns. calls: the kernel whose system calls
# the host answers as. Debian 12's C library needs 3.2, so the rows before
# it run with 3.2's calls: those rows are about the /proc layouts only.
#
#   lru     Active(anon)... Active(file) Inactive(file), with Unevictable
#           and Mlocked, in meminfo; before, Active and Inactive alone 2.6.28
#   srec    SReclaimable and SUnreclaim in meminfo                    2.6.19
#   shmem   Shmem in meminfo                                          2.6.32
#   kstack  KernelStack in meminfo                                    2.6.32
#   avail   MemAvailable in meminfo                                   3.14
#   percpu  Percpu in meminfo                                         4.16
#   krec    KReclaimable in meminfo                                   4.20
#   vmswap  VmSwap in /proc/PID/status                                2.6.34
#   rss     RssAnon, RssFile and RssShmem in /proc/PID/status         4.5
#   umask   Umask in /proc/PID/status                                 4.7
#   managed managed rows in /proc/zoneinfo                            3.8
#   node    per-node stats in /proc/zoneinfo, zone rows further in    4.8
#   boost   boost rows in /proc/zoneinfo                              5.0
#   tabs    two tabs between the columns of /proc/swaps               5.8
#           (its header and columns, name, type, size, used and
#           priority, are the same since 2.6)
#   psi     /proc/pressure/memory, for a memory pressure trigger      5.2
# and the cgroups mounted, as the kernel's distributions mount them: v1
# alone, then beside them an empty v2 hierarchy (systemd's hybrid layout),
# then v2 alone with every controller (Debian 11 on):
#   cg2     a cgroup v2 hierarchy                                     4.5
#   frz2    cgroup.freeze in a v2 cgroup                              5.2
#   kill2   cgroup.kill in a v2 cgroup                                5.14
#   mem2    the memory controller in v2                               4.5
#   mem1    the v1 memory controller                                  2.6.25
#   memsw   its swap accounting, memory.memsw.*                       2.6.29
#   thr     its usage thresholds, cgroup.event_control                2.6.34
#   frz1    the v1 freezer controller                                 2.6.28
kernel_table='
kernel calls lru srec shmem kstack avail percpu krec vmswap rss umask managed node boost tabs psi cg2 frz2 kill2 mem2 mem1 memsw thr frz1
2.6.27 3.2   -   y    -     -      -     -      -    -      -   -     -       -    -     -    -   -   -    -     -    y    -     -   -
2.6.32 3.2   y   y    y     y      -     -      -    -      -   -     -       -    -     -    -   -   -    -     -    y    y     -   y
3.2    3.2   y   y    y     y      -     -      -    y      -   -     -       -    -     -    -   -   -    -     -    y    y     y   y
3.10   3.10  y   y    y     y      -     -      -    y      -   -     y       -    -     -    -   -   -    -     -    y    y     y   y
4.4    4.4   y   y    y     y      y     -      -    y      -   -     y       -    -     -    -   -   -    -     -    y    y     y   y
4.9    4.9   y   y    y     y      y     -      -    y      y   y     y       y    -     -    -   -   -    -     -    y    y     y   y
4.14   4.14  y   y    y     y      y     -      -    y      y   y     y       y    -     -    -   y   -    -     -    y    y     y   y
4.19   4.19  y   y    y     y      y     y      -    y      y   y     y       y    -     -    -   y   -    -     -    y    y     y   y
5.4    5.4   y   y    y     y      y     y      y    y      y   y     y       y    y     -    y   y   y    -     -    y    y     y   y
5.10   5.10  y   y    y     y      y     y      y    y      y   y     y       y    y     y    y   y   y    -     y    -    -     -   -
6.1    6.1   y   y    y     y      y     y      y    y      y   y     y       y    y     y    y   y   y    y     y    -    -     -   -
'

# The system calls the watchdog, the session or their C library may make
# that came after the oldest kernel, with the kernel that brought each.
kernel_calls_table='
pidfd_open        5.3
pidfd_send_signal 5.1
faccessat2        5.8
close_range       5.9
clone3            5.3
openat2           5.6
statx             4.11
getrandom         3.17
memfd_create      3.17
copy_file_range   4.5
preadv2           4.6
pwritev2          4.6
rseq              4.18
pkey_mprotect     4.9
pkey_alloc        4.9
pkey_free         4.9
io_uring_setup    5.1
io_uring_enter    5.1
io_uring_register 5.1
epoll_pwait2      5.11
'

# The kernels of the table, one a line.
kernels() { awk 'NF && $1 != "kernel" { print $1 }' <<<"$kernel_table"; }

# Whether kernel $1 came before kernel $2.
kernel_before() {
    [ "$1" != "$2" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | head -n 1)" = "$1" ]
}

# Loads the row of kernel $1: kernel_has[FACT] is y or -, kernel_calls the
# kernel of its system calls. Fails for a kernel not in the table.
declare -A kernel_has
kernel_load() {
    local names=() row=() i
    read -r -a names < <(awk '$1 == "kernel"' <<<"$kernel_table")
    read -r -a row < <(awk -v k="$1" '$1 == k' <<<"$kernel_table")
    [ "${#row[@]}" -gt 2 ] && [ "${#row[@]}" -eq "${#names[@]}" ] || return 1
    kernel_calls=${row[1]}
    kernel_has=()
    for ((i = 2; i < ${#row[@]}; i++)); do
        kernel_has[${names[$i]}]=${row[$i]}
    done
}
has() {
    [ -n "${kernel_has[$1]:-}" ] || { echo "no column $1 in the kernel table" >&2; exit 2; }
    [ "${kernel_has[$1]}" = y ]
}

# The system calls the loaded kernel lacks, one a line.
kernel_refused_calls() {
    local name since
    while read -r name since; do
        [ -n "$name" ] && kernel_before "$kernel_calls" "$since" && echo "$name"
    done <<<"$kernel_calls_table"
}

# The device: RAM and a swap disk, in MiB, and what it holds at rest with
# its X server up (KiB). The same memory on every kernel; only the layout
# differs. Sets the dev_ figures.
kernel_device() {
    local ram_mib=$1 swap_mib=$2
    # The kernel's own image and page tables are not in MemTotal.
    dev_mem_total=$((ram_mib * 1024 * 15 / 16))
    local t=$dev_mem_total
    dev_free=$((t * 40 / 100))
    dev_buffers=$((t * 2 / 100))
    dev_cached=$((t * 20 / 100))
    dev_active_file=$((t * 10 / 100))
    dev_inactive_file=$((t * 12 / 100))
    dev_active_anon=$((t * 8 / 100))
    dev_inactive_anon=$((t * 10 / 100))
    dev_sreclaimable=$((t * 2 / 100))
    # Reclaimable kernel memory beside the slab's, counted from 4.20 on.
    dev_kreclaimable=$((dev_sreclaimable + 256))
    dev_sunreclaim=$((t * 3 / 100))
    dev_shmem=$((t / 100))
    dev_mapped=$((t * 6 / 100))
    # A partition of N MiB: its first page holds the swap header.
    dev_swap_total=$((swap_mib * 1024 - 4))
    # What each process holds (KiB): program size, resident, swapped out.
    dev_x=(26000 12000 500)
    dev_browser=(40000 20000 1000)
    dev_swap_used=$((dev_x[2] + dev_browser[2]))
    dev_swap_free=$((dev_swap_total - dev_swap_used))
    dev_pages=$((ram_mib * 256))
}

# Writes, into directory $1, /proc as kernel $2 shows the device of
# kernel_device, with the X server as pid $3 and the browser as pid $4.
kernel_write_proc() {
    local dir=$1 x_pid=$3 browser_pid=$4
    kernel_load "$2" || { echo "no kernel $2 in the table" >&2; return 1; }
    mkdir -p "$dir/$x_pid" "$dir/$browser_pid"
    _kernel_meminfo >"$dir/meminfo"
    _kernel_swaps >"$dir/swaps"
    _kernel_zoneinfo >"$dir/zoneinfo"
    _kernel_status X "$x_pid" "${dev_x[@]}" >"$dir/$x_pid/status"
    _kernel_statm "${dev_x[@]}" >"$dir/$x_pid/statm"
    _kernel_status dillo "$browser_pid" "${dev_browser[@]}" >"$dir/$browser_pid/status"
    _kernel_statm "${dev_browser[@]}" >"$dir/$browser_pid/statm"
    _kernel_cgroups "$dir"
}

# The cgroups of the loaded kernel, laid under $1: self/mountinfo and
# self/cgroup (the session in each hierarchy's root), the hierarchies in
# cgroup/, and in cgroup-probe/ the files a child cgroup has there, which
# kernel_probe_cgroups lays out as the probe a session of a pid makes.
# Laid files: nothing is moved, frozen or bounded by them.
_kernel_cgroups() {
    local dir=$1 probe
    mkdir -p "$dir/self" "$dir/cgroup" "$dir/cgroup-probe"
    : >"$dir/self/mountinfo"
    : >"$dir/self/cgroup"
    if has cg2; then
        probe=(cgroup.procs cgroup.controllers cgroup.events)
        has frz2 && probe+=(cgroup.freeze)
        has kill2 && probe+=(cgroup.kill)
        has mem2 && probe+=(memory.current memory.high memory.events memory.swap.current memory.swap.max)
        _kernel_hierarchy "$dir" 20 unified cgroup2 rw "0::/" "${probe[*]}" \
            cgroup.procs cgroup.controllers cgroup.subtree_control
    fi
    if has mem1; then
        probe=(cgroup.procs memory.usage_in_bytes)
        has memsw && probe+=(memory.memsw.usage_in_bytes)
        has thr && probe+=(cgroup.event_control)
        _kernel_hierarchy "$dir" 21 memory cgroup rw,memory "4:memory:/" "${probe[*]}" \
            cgroup.procs memory.usage_in_bytes
    fi
    if has frz1; then
        _kernel_hierarchy "$dir" 22 freezer cgroup rw,freezer "5:freezer:/" \
            "cgroup.procs freezer.state" cgroup.procs
    fi
    return 0
}

# _kernel_hierarchy DIR ID NAME TYPE OPTIONS CGROUP_LINE "PROBE_FILES"
# ROOT_FILES...: one hierarchy, its mount and the session's place in it.
_kernel_hierarchy() {
    local dir=$1 id=$2 name=$3 type=$4 options=$5 line=$6 probe f
    read -r -a probe <<<"$7"
    shift 7
    mkdir -p "$dir/cgroup/$name" "$dir/cgroup-probe/$name"
    printf '%d 1 0:%d / %s rw,relatime - %s %s %s\n' "$id" "$id" "$dir/cgroup/$name" "$type" \
        "$type" "$options" >>"$dir/self/mountinfo"
    echo "$line" >>"$dir/self/cgroup"
    for f in "$@"; do : >"$dir/cgroup/$name/$f"; done
    for f in "${probe[@]}"; do : >"$dir/cgroup-probe/$name/$f"; done
}

# Lays, in the cgroups written under $1, the probe a session of pid $2
# makes there, with the files the loaded kernel gives a child cgroup.
kernel_probe_cgroups() {
    local name
    for name in unified memory freezer; do
        [ -d "$1/cgroup-probe/$name" ] || continue
        rm -rf "$1/cgroup/$name/browser-probe-$2"
        cp -r "$1/cgroup-probe/$name" "$1/cgroup/$name/browser-probe-$2"
    done
}

# The box a session makes on the loaded kernel, as its reserve line says
# it: "a box of ..." or "a process group (...".
kernel_box_words() {
    local v2='' v1=''
    if has cg2 && { has frz2 || has kill2 || has mem2 || ! { has mem1 || has frz1; }; }; then
        v2="cgroup v2 ($(has frz2 && echo freeze || echo no freeze)"
        has kill2 && v2+=", kill"
        has mem2 && v2+=", memory"
        v2+=")"
    fi
    local memory=no freezer=no
    has mem2 || ! has mem1 || memory=yes
    has frz2 || ! has frz1 || freezer=yes
    case $memory$freezer in
        yesyes) v1="v1 memory and freezer" ;;
        yesno) v1="v1 memory" ;;
        noyes) v1="v1 freezer" ;;
    esac
    if [ -z "$v2$v1" ]; then
        echo "a process group ("
    else
        echo "a box of $v2${v2:+${v1:+ and }}$v1"
    fi
}

# "Label:" padded to 16 columns, the figure in 8.
_kernel_kib() { printf '%-15s %8d kB\n' "$1:" "$2"; }

_kernel_meminfo() {
    local t=$dev_mem_total
    _kernel_kib MemTotal "$t"
    _kernel_kib MemFree "$dev_free"
    # The kernel's estimate, not the fields it is made from.
    has avail &&
        _kernel_kib MemAvailable $((dev_free + (dev_active_file + dev_inactive_file) / 2))
    _kernel_kib Buffers "$dev_buffers"
    _kernel_kib Cached "$dev_cached"
    _kernel_kib SwapCached 0
    _kernel_kib Active $((dev_active_anon + dev_active_file))
    _kernel_kib Inactive $((dev_inactive_anon + dev_inactive_file))
    if has lru; then
        _kernel_kib 'Active(anon)' "$dev_active_anon"
        _kernel_kib 'Inactive(anon)' "$dev_inactive_anon"
        _kernel_kib 'Active(file)' "$dev_active_file"
        _kernel_kib 'Inactive(file)' "$dev_inactive_file"
        _kernel_kib Unevictable 0
        _kernel_kib Mlocked 0
    fi
    _kernel_kib SwapTotal "$dev_swap_total"
    _kernel_kib SwapFree "$dev_swap_free"
    _kernel_kib Dirty 12
    _kernel_kib Writeback 0
    _kernel_kib AnonPages $((dev_active_anon + dev_inactive_anon))
    _kernel_kib Mapped "$dev_mapped"
    has shmem && _kernel_kib Shmem "$dev_shmem"
    has krec && _kernel_kib KReclaimable "$dev_kreclaimable"
    _kernel_kib Slab $((dev_sreclaimable + dev_sunreclaim))
    if has srec; then
        _kernel_kib SReclaimable "$dev_sreclaimable"
        _kernel_kib SUnreclaim "$dev_sunreclaim"
    fi
    has kstack && _kernel_kib KernelStack 392
    _kernel_kib PageTables 296
    _kernel_kib NFS_Unstable 0
    _kernel_kib Bounce 0
    _kernel_kib WritebackTmp 0
    _kernel_kib CommitLimit $((t / 2 + dev_swap_total))
    _kernel_kib Committed_AS $((t * 70 / 100))
    _kernel_kib VmallocTotal 1048372
    _kernel_kib VmallocUsed 1208
    _kernel_kib VmallocChunk 1041404
    has percpu && _kernel_kib Percpu 64
    return 0
}

_kernel_swaps() {
    local pad
    pad=$(printf '%31s' '')  # "/dev/sda2" padded to 40 columns
    if has tabs; then
        printf 'Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n'
        printf '/dev/sda2%spartition\t%d\t\t%d\t\t%d\n' "$pad" "$dev_swap_total" "$dev_swap_used" -2
    else
        printf 'Filename\t\t\t\tType\t\tSize\tUsed\tPriority\n'
        printf '/dev/sda2%spartition\t%d\t%d\t%d\n' "$pad" "$dev_swap_total" "$dev_swap_used" -1
    fi
}

# Two zones: 16 MiB of DMA, the rest Normal. The watermarks are what the
# kernel sets for this RAM: min_free_kbytes = sqrt(16 x lowmem KiB), shared
# out by the zones' pages; low and high a quarter and a half above min.
_kernel_zoneinfo() {
    local dma_present=4096 normal_present=$((dev_pages - 4096))
    local managed=$((dev_mem_total / 4))
    local dma_managed=$((dma_present - 98)) normal_managed
    normal_managed=$((managed - dma_managed))
    local min_pages
    min_pages=$(awk -v t="$dev_mem_total" 'BEGIN { printf "%d", sqrt(t * 16) / 4 }')
    local dma_min=$((min_pages * dma_managed / managed))
    local normal_min=$((min_pages - dma_min))
    _kernel_zone DMA 0 "$dma_present" "$dma_managed" "$dma_min" "0, $((normal_managed / 256)), $((normal_managed / 256))" 1
    _kernel_zone Normal "$dma_present" "$normal_present" "$normal_managed" "$normal_min" "0, 0, 0" 0
}

# _kernel_zone NAME START_PFN PRESENT MANAGED MIN PROTECTION FIRST
_kernel_zone() {
    local name=$1 start=$2 present=$3 managed=$4 min=$5 protection=$6 first=$7
    local low=$((min * 5 / 4)) high=$((min * 3 / 2)) free=$((managed * 40 / 100))
    local stat='    '
    printf 'Node 0, zone %8s\n' "$name"
    if has node; then
        stat='      '
        if [ "$first" = 1 ]; then
            printf '  per-node stats\n'
            printf '      %-12s %d\n' nr_inactive_anon $((dev_inactive_anon / 4)) \
                nr_active_anon $((dev_active_anon / 4)) nr_inactive_file $((dev_inactive_file / 4)) \
                nr_active_file $((dev_active_file / 4)) nr_unevictable 0
        fi
    fi
    printf '  pages free     %d\n' "$free"
    has boost && printf '        boost    %d\n' 0
    printf '        min      %d\n        low      %d\n        high     %d\n' "$min" "$low" "$high"
    has node || printf '        scanned  %d\n' 0
    printf '        spanned  %d\n        present  %d\n' "$present" "$present"
    has managed && printf '        managed  %d\n' "$managed"
    printf '%s%-12s %d\n' "$stat" nr_free_pages "$free"
    if has node; then
        printf '%s%-12s %d\n' "$stat" nr_zone_inactive_anon 0 "$stat" nr_zone_active_file 0
    elif has lru; then
        printf '%s%-12s %d\n' "$stat" nr_inactive_anon 0 "$stat" nr_active_file 0
    else
        printf '%s%-12s %d\n' "$stat" nr_inactive 0 "$stat" nr_active 0
    fi
    printf '        protection: (%s)\n' "$protection"
    printf '  pagesets\n    cpu: 0\n              count: %d\n              high:  %d\n              batch: %d\n' \
        12 186 31
    if has node; then
        printf '  node_unreclaimable:  0\n  start_pfn:           %d\n' "$start"
    else
        printf '  all_unreclaimable: 0\n  start_pfn:         %d\n' "$start"
    fi
}

# The host's pages: the watchdog counts statm in the pages of the kernel
# it runs on.
_kernel_page_kib() { echo $(($(getconf PAGESIZE) / 1024)); }

# _kernel_status NAME PID SIZE RSS SWAP (KiB)
_kernel_status() {
    local name=$1 pid=$2 size=$3 rss=$4 swap=$5
    printf 'Name:\t%s\n' "$name"
    has umask && printf 'Umask:\t0022\n'
    printf 'State:\tS (sleeping)\nTgid:\t%d\nPid:\t%d\nPPid:\t1\nTracerPid:\t0\n' "$pid" "$pid"
    printf 'Uid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\nFDSize:\t32\nGroups:\t\n'
    printf 'Vm%s:\t%8d kB\n' Peak $((size + 1024)) Size "$size" Lck 0 HWM $((rss + 512)) RSS "$rss"
    if has rss; then
        printf 'Rss%s:\t%8d kB\n' Anon $((rss / 2)) File $((rss / 2)) Shmem 0
    fi
    printf 'Vm%s:\t%8d kB\n' Data $((size / 3)) Stk 132 Exe 1800 Lib $((size / 3)) PTE 28
    has vmswap && printf 'VmSwap:\t%8d kB\n' "$swap"
    printf 'Threads:\t1\nSigQ:\t0/479\nSigPnd:\t0000000000000000\nShdPnd:\t0000000000000000\n'
    printf 'SigBlk:\t0000000000000000\nSigIgn:\t0000000000001000\nSigCgt:\t0000000180014a07\n'
    printf 'CapInh:\t0000000000000000\nCapPrm:\tffffffffffffffff\nCapEff:\tffffffffffffffff\n'
    printf 'CapBnd:\tffffffffffffffff\nCpus_allowed:\t1\nCpus_allowed_list:\t0\n'
    printf 'voluntary_ctxt_switches:\t1204\nnonvoluntary_ctxt_switches:\t87\n'
}

# _kernel_statm SIZE RSS SWAP (KiB): size resident shared text lib data dt,
# in pages.
_kernel_statm() {
    local p
    p=$(_kernel_page_kib)
    printf '%d %d %d %d 0 %d 0\n' $(($1 / p)) $(($2 / p)) $(($2 / 2 / p)) $((1800 / p)) \
        $(($1 / 3 / p))
}
