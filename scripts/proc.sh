# shellcheck shell=sh
# The small facts the scripts read off /proc, each read here once: a
# process's state and the fields of its stat, the pids of the processes of
# a name, the name the kernel gives a process, its children, an argument
# and a variable of its environment, the processes of a cgroup, a figure of
# /proc/meminfo or of a process's status, the swap areas, and RAM plus swap
# as the watchdog counts it; and what the benches measure of a process: its start, its
# CPU time, its wake-ups, its program size and what it holds.
#
# POSIX sh: sourced by the host's scripts (through scripts/common.sh) and
# by the emulated device's busybox sh (through scripts/guest/lib.sh, from
# /opt/watchdog/proc.sh). It defines functions only; their scratch
# variables start with _proc_, as sh has no local ones.

# The name the kernel gives a process run as $1: it keeps 15 characters
# (16 bytes with the terminator), so browser-watchdog is "browser-watchdo"
# in /proc/PID/stat and in the kernel's trace.
comm_name() { printf '%.15s\n' "$1"; }

# Reads the stat of process $1 into proc_stat: its fields from the state
# on, so that field N as proc(5) numbers them is word N - 2 (1: the state,
# 2: the parent, 12 and 13: user and system time, 20: the start in clock
# ticks). The name before them is in parentheses and may hold spaces and
# ")": the fields start after its last ") ". Fails when the process has
# no /proc entry.
read_proc_stat() {
    read -r proc_stat 2>/dev/null <"/proc/$1/stat" || return 1
    proc_stat=${proc_stat##*) }
}

# The one-letter state of process $1 (R, S, T for stopped, Z...), or
# "gone" when it has no /proc entry.
process_state() {
    read_proc_stat "$1" || { echo gone; return; }
    echo "${proc_stat%% *}"
}

# The pids of the processes named $1 (children of $2 only, if given), one
# a line; the name is compared as the kernel keeps it (comm_name). The
# device's busybox has no pgrep.
pids_named() {
    set -- "$(comm_name "$1")" "${2:-}"
    for _proc_file in /proc/[0-9]*/stat; do
        read -r _proc_line 2>/dev/null <"$_proc_file" || continue
        case $_proc_line in *" ($1) "*) ;; *) continue ;; esac
        # shellcheck disable=SC2086 # the fields of stat, one word each
        set -- "$1" "$2" ${_proc_line##*) }
        [ -z "$2" ] || [ "$4" = "$2" ] && echo "${_proc_line%% *}"
        set -- "$1" "$2"
    done
}

# The name the kernel keeps for process $1 (its comm); fails once it has
# gone.
process_name() { read -r _proc_name 2>/dev/null <"/proc/$1/comm" && echo "$_proc_name"; }

# The children of process $1, one a line, those of its every thread
# (CONFIG_PROC_CHILDREN); nothing once it has gone.
process_children() { cat "/proc/$1"/task/*/children 2>/dev/null | tr ' ' '\n' | grep . || true; }

# Argument $2 of process $1's command line (0: the program); nothing once
# it has gone.
process_argument() { tr '\0' '\n' <"/proc/$1/cmdline" 2>/dev/null | sed -n "$(($2 + 1))p"; }

# The value of $2 in the environment process $1 was started with (as root,
# or its owner); nothing without it.
process_env() {
    tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | sed -n "s/^$2=//p" | head -n 1
}

# The processes a cgroup directory $1 lists (cgroup.procs), one a line;
# nothing once it has gone.
cgroup_pids() { cat "$1/cgroup.procs" 2>/dev/null || true; }

# The figure $1 of /proc/meminfo (MemTotal, MemAvailable...), in KiB.
meminfo_kib() { awk -v k="$1:" '$1 == k { print $2 }' /proc/meminfo; }

# The figure $2 of process $1's status (VmRSS, VmSize...), in KiB.
status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

# The swap areas of /proc/swaps, one a line in its order (the order they
# were swapped on): "NAME SIZE_KIB PRIORITY"; nothing without swap. What
# is free of them all is SwapFree of /proc/meminfo.
swap_areas() { awk 'NR > 1 { print $1, $3, $5 }' /proc/swaps 2>/dev/null || true; }

# RAM plus the first swap area of /proc/swaps in KiB: the total the
# watchdog counts against (a second swap area is not in it).
ram_and_swap_kib() {
    _proc_swap=$(swap_areas | awk 'NR == 1 { print $2; exit }')
    echo $(($(meminfo_kib MemTotal) + ${_proc_swap:-0}))
}

# The start of process $1, in ms since boot: its stat's 22nd field, in
# clock ticks of 10 ms (USER_HZ is 100 on every architecture here).
start_ms() {
    read_proc_stat "$1" || return 1
    # shellcheck disable=SC2086 # the fields of stat, one word each
    set -- $proc_stat
    echo $((${20} * 10))
}

# The CPU time process $1 has taken so far, user and system, in ms: its
# stat's 14th and 15th fields, in ticks of 10 ms.
cpu_ms() {
    read_proc_stat "$1" || return 1
    # shellcheck disable=SC2086 # the fields of stat, one word each
    set -- $proc_stat
    echo $(((${12} + ${13}) * 10))
}

# The same in ns, as the scheduler counts it (schedstat's first field):
# finer than ticks, for a process that runs for microseconds at a time.
cpu_ns() { awk '{ print $1 }' "/proc/$1/schedstat" 2>/dev/null; }

# The wake-ups of process $1 so far: its voluntary context switches. A
# process that waits (poll, a timer, a read) gives up the CPU of its own
# accord and runs again only when woken, once per wait; a nonvoluntary
# switch is a preemption of a process that still had work, no wake-up,
# and counts the machine's load more than the process. Nothing once the
# process has gone.
wakeups() { awk '$1 == "voluntary_ctxt_switches:" { print $2 }' "/proc/$1/status" 2>/dev/null; }

# The program size of the processes given, summed, in KiB: the first field
# of each one's /proc/PID/statm, in pages of the kernel's size (from awk's
# own mappings), as the watchdog's size count adds them. Fails when one
# has no /proc entry, or none is given.
size_kib() {
    [ $# -gt 0 ] || return 1
    _proc_n=$#
    while [ "$_proc_n" -gt 0 ]; do
        [ -r "/proc/$1/statm" ] || return 1
        set -- "$@" "/proc/$1/statm"
        shift
        _proc_n=$((_proc_n - 1))
    done
    awk 'BEGIN {
            while ((getline line <"/proc/self/smaps") > 0)
                if (split(line, f) && f[1] == "KernelPageSize:") { kib = f[2]; break }
        }
        { pages += $1 }
        END { print pages * kib }' "$@"
}

# What process $1 holds, VmRSS plus VmSwap, in KiB; "-" for a process
# that has gone (or a kernel thread, which holds none of its own).
resident_kib() {
    awk '$1 == "VmRSS:" || $1 == "VmSwap:" { s += $2; n++ } END { print n ? s : "-" }' \
        "/proc/$1/status" 2>/dev/null || echo -
}
