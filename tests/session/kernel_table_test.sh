#!/bin/bash
# Every kernel a device ships (tests/session/kernels.sh): its /proc laid
# over this machine's for one process tree, and the system calls it lacks
# answering ENOSYS, for the session and the watchdog alike.
#   - The session, with its defaults and with each count, either runs (the
#     watchdog releases the browser, which leaves a mark) or refuses at
#     start, status 1, no watchdog and no browser started, naming a setting;
#     each setting named, applied, then runs. It never leaves a held browser
#     to a watchdog that fails at its first check.
#   - The watchdog alone, with each count: one this kernel cannot give ends
#     it at start with its fatal line, status 1, before it waits for its
#     first check; any other, held at the limit from its first check,
#     finds the kernel's figures, stops the browser and shows its dialog.
# What runs and what is refused is the table's: the headroom count needs
# the file LRU lists, the resident count VmSwap, a chosen reserve for a
# count of the processes the file LRU lists too.
# Prints one line per kernel and count, to be quoted:
#   kernel=K count=C outcome=runs|refused setting=... watchdog=runs|refused calls=K
# (setting: what the session's refusal names; calls: the kernel whose
# system calls the host answered as).
# Usage: kernel_table_test.sh SESSION WATCHDOG_DIR REFUSE_SYSCALLS (as root;
# skipped, status 77, without root, unshare, Xvfb or seccomp).
set -euo pipefail
session=$1
watchdog_dir=$2
refuse=$3
here=$(dirname "$0")
# shellcheck source=tests/lib.sh
. "$here/../lib.sh"
# shellcheck source=tests/session/kernels.sh
. "$here/kernels.sh"

[ "$(id -u)" -eq 0 ] || skip "kernel table: needs root, to lay the kernels' files over /proc"
command -v unshare >/dev/null || skip "kernel table: needs unshare (util-linux)"
command -v Xvfb >/dev/null || skip "kernel table: needs Xvfb"
"$refuse" getrandom -- true 2>/dev/null || skip "kernel table: no seccomp filter can refuse system calls here"
unshare -m true 2>/dev/null || skip "kernel table: no mount namespace can be made here"

# The shell's word of each process the test kills is not the test's.
exec 2> >(grep -v --line-buffered '^[^ ]*: line [0-9]*: *[0-9]* \(Killed\|Terminated\)' >&2)
poll_nr=$("$refuse" -n poll 2>/dev/null || echo none)
ppoll_nr=$("$refuse" -n ppoll)

# One X server for the whole test, with its lock file: the session finds
# it by that. A session of a count of the processes samples the device at
# rest for up to 30 s first.
start_x

ended() { case $(process_state "$1") in Z | gone) return 0 ;; esac; return 1; }
# Reaps process $1 once it has ended (at most $patience tenths, then it is
# killed); its status goes into status.
reap() {
    for _ in $(seq "$patience"); do ended "$1" && break; sleep 0.1; done
    ended "$1" || { kill -KILL "$1"; problem "process $1 did not end"; }
    status=0
    wait "$1" 2>/dev/null || status=$?
    local kept=() p
    for p in "${pids[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
    pids=("${kept[@]}")
}
# Whether process $1's main thread sleeps in poll: the watchdog's main loop.
in_poll() {
    local call
    read -r call _ 2>/dev/null <"/proc/$1/syscall" || return 1
    [ "$call" = "$poll_nr" ] || [ "$call" = "$ppoll_nr" ]
}

# What failed, kept to the end: every row is run and printed.
failures=()
problem() {
    failures+=("kernel=$kernel count=$count: $*")
    echo "FAIL: kernel=$kernel count=$count: $*"
}

# A command with the loaded kernel's files laid over /proc (its meminfo,
# swaps and zoneinfo, and the status and statm of the processes given,
# from DIR/PID) and the system calls it lacks refused, into the array
# kernel_cmd: as_kernel DIR PID... -- COMMAND [ARG...]. Every step execs,
# so that the command keeps the pid of the kernel_cmd started.
as_kernel() {
    local dir=$1 laid=()
    shift
    while [ "$1" != -- ]; do laid+=("$1"); shift; done
    shift
    local psi=yes
    has psi || psi=no
    # shellcheck disable=SC2016 # the inner shell's own arguments
    kernel_cmd=(unshare -m --propagation private -- "$BASH" -c '
        dir=$1 n=$2 psi=$3
        shift 3
        for f in meminfo swaps zoneinfo; do
            mount --bind "$dir/$f" "/proc/$f" || exit 126
        done
        # A kernel before pressure stall information has no /proc/pressure.
        if [ "$psi" = no ] && [ -d /proc/pressure ]; then
            mount -t tmpfs none /proc/pressure || exit 126
        fi
        for ((; n > 0; n--)); do
            for f in status statm; do
                mount --bind "$dir/$1/$f" "/proc/$1/$f" || exit 126
            done
            shift
        done
        # The cgroup probe a session of this pid (exec keeps it) makes.
        for f in "$dir"/cgroup-probe/*; do
            [ -d "$f" ] || continue
            rm -rf "$dir/cgroup/${f##*/}/browser-probe-$$"
            cp -r "$f" "$dir/cgroup/${f##*/}/browser-probe-$$" || exit 126
        done
        exec "$@"' _ "$dir" "${#laid[@]}" "$psi" "${laid[@]}" "$refuse" "${refused_calls[@]}" -- "$@")
}

# The device every kernel runs on: 64 MiB of RAM and a 64 MiB swap disk.
kernel_device 64 64
page_kib=$(($(getconf PAGESIZE) / 1024))
given_reserve=$(((dev_mem_total + dev_swap_total) / 4 / 1024))

# The browser the session starts: it leaves a mark once released.
printf '#!/bin/sh\n: >"%s"\nexec sleep 600\n' "$work/ran" >"$work/browser"
chmod +x "$work/browser"

# Runs the session once on the loaded kernel, with the settings given
# (VAR=VALUE...) on top of none: sets outcome (runs or refused) and said
# (the setting its refusal names), and notes what is wrong.
session_once() {
    rm -f "$work/ran"
    as_kernel "$row_dir" "$x_pid" -- env -u BROWSER_WATCHDOG_COUNT -u RESERVE_MIB \
        -u BROWSER_WATCHDOG_PERIOD -u BROWSER_WATCHDOG_START PATH="$watchdog_dir:$PATH" \
        SESSION_ONCE=1 SESSION_PROC="$row_dir" BROWSER="$work/browser" "$@" "$session"
    "${kernel_cmd[@]}" >"$work/session.log" 2>"$work/session.err" &
    local pid=$!
    pids+=("$pid")
    for _ in $(seq "$patience"); do
        [ -e "$work/ran" ] && break
        ended "$pid" && break
        sleep 0.1
    done
    said=-
    said_box=-
    if [ -e "$work/ran" ]; then
        outcome=runs
        kill -TERM "$pid"
        reap "$pid"
        grep -q '^Browser controller: signalling process [0-9]* ([0-9]*)... ok$' "$work/session.log" ||
            problem "${*:-defaults}: a browser ran that no watchdog released"
        grep -q "^Browser controller: x_pid=$x_pid, .*total_memory=$((dev_mem_total + dev_swap_total))," \
            "$work/session.log" || problem "${*:-defaults}: the watchdog did not count this kernel's" \
            "RAM+swap: $(cat "$work/session.log")"
        ! grep -q 'fatal error' "$work/session.log" ||
            problem "${*:-defaults}: the watchdog failed: $(grep 'fatal error' "$work/session.log")"
        # How the checks are woken: never by a trigger a kernel cannot give.
        local wakes='; checks on memory pressure too\|; checks on its period alone (no memory pressure trigger: [A-Za-z ]*)'
        has psi || wakes='; checks on its period alone (no memory pressure trigger: No such file or directory)'
        grep -q "^browser-session: reserve .*: limit [0-9]* KiB\($wakes\); each browser in " "$work/session.err" ||
            problem "${*:-defaults}: the reserve line says otherwise how checks are woken: $(cat "$work/session.err")"
        # The box: what this kernel's cgroups give, and a tripwire, with its
        # margin, where the box has a memory controller that can hold one.
        local box
        box=$(kernel_box_words)
        grep -qF "; each browser in $box" "$work/session.err" ||
            problem "${*:-defaults}: not a box of what this kernel gives ($box): $(cat "$work/session.err")"
        said_box=$(sed -n 's/^browser-session: reserve .*; each browser in //p' "$work/session.err")
        local margin='margin 5120 KiB)'
        if has mem2 || { has mem1 && has thr; }; then margin='margin 1024 KiB behind a tripwire)'; fi
        if grep -q "the kernel's own" "$work/session.err" && ! grep -qF "$margin" "$work/session.err"; then
            problem "${*:-defaults}: not the rule's $margin: $(cat "$work/session.err")"
        fi
        return
    fi
    reap "$pid"
    outcome=refused
    if grep -q 'before it released\|still held' "$work/session.err"; then
        problem "${*:-defaults}: a held browser was left to a watchdog that did not release it:" \
            "$(cat "$work/session.err" "$work/session.log")"
    elif [ "$status" -ne 1 ] || [ -s "$work/session.log" ]; then
        problem "${*:-defaults}: not refused at start (status $status, a watchdog started?):" \
            "$(cat "$work/session.err" "$work/session.log")"
    else
        said=$(sed -n 's/^browser-session: .*[:;] set \(.*\)$/\1/p' "$work/session.err")
        [ -n "$said" ] || problem "${*:-defaults}: refused, naming no setting: $(cat "$work/session.err")"
        [ -n "$said" ] || said=-
    fi
}

# What the session does on the loaded kernel with count $1 (headroom,
# resident, size) and the reserve it chooses itself: runs or refused. For
# a count of the processes it reads what is in use at rest, which needs
# the file LRU lists.
session_expected() {
    local can=yes
    case $1 in
        headroom) has lru && { has srec || has krec; } || can=no ;;
        resident) has vmswap && has lru || can=no ;;
        size) has lru || can=no ;;
    esac
    [ "$can" = yes ] && echo runs || echo refused
}
# What the watchdog does on the loaded kernel with count $1.
watchdog_expected() {
    case $1 in
        headroom) has lru && { has srec || has krec; } && echo runs || echo refused ;;
        resident) has vmswap && echo runs || echo refused ;;
        *) echo runs ;;
    esac
}

# The settings a refusal names, one alternative a line as VAR=VALUE words:
# "BROWSER_WATCHDOG_COUNT=headroom or size", "BROWSER_WATCHDOG_COUNT=size
# and RESERVE_MIB". A bare value is the last variable's; a bare variable
# takes the test's value, for RESERVE_MIB a quarter of RAM+swap; what
# cannot be given a value is marked with a "?".
alternatives() {
    local var='' alt part words
    while read -r alt; do
        words=()
        while read -r part; do
            case $part in
                [A-Z]*=*) var=${part%%=*}; words+=("$part") ;;
                RESERVE_MIB) words+=("RESERVE_MIB=$given_reserve") ;;
                [A-Z_]*) words+=("?$part") ;;
                *) words+=("${var:-?}=$part") ;;
            esac
        done <<<"${alt// and /$'\n'}"
        echo "${words[*]}"
    done <<<"${1// or /$'\n'}"
}

# The session with count $1 (default: its own), and each setting it names.
session_row() {
    local settings=() expected alt named
    [ "$1" = default ] || settings=(BROWSER_WATCHDOG_COUNT="$1")
    expected=$(session_expected "${1/default/headroom}")
    session_once "${settings[@]}"
    [ "$outcome" = "$expected" ] ||
        problem "the session $outcome where this kernel's files say it $expected"
    session_outcome=$outcome
    session_said=$said
    [ "$outcome" = refused ] && [ "$said" != - ] || return 0
    while read -r alt; do
        read -r -a named <<<"$alt"
        [[ $alt != *'?'* ]] || { problem "named $alt, which cannot be given a value"; continue; }
        session_once "${settings[@]}" "${named[@]}"
        [ "$outcome" = runs ] ||
            problem "named $alt, which then was refused: $(cat "$work/session.err")"
    done < <(alternatives "$said")
}

# The watchdog alone on the loaded kernel: watchdog_once COUNT START
# RESERVE_MIB, its X server and browser stand-ins laid over with the
# kernel's files; its pid is watchdog_pid, its log $work/watchdog.log.
watchdog_once() {
    local count_env=() start_env=()
    [ "$1" = default ] || count_env=(BROWSER_WATCHDOG_COUNT="$1")
    [ -z "$2" ] || start_env=(BROWSER_WATCHDOG_START="$2")
    sleep 600 &
    browser_pid=$!
    pids+=("$browser_pid")
    kill -STOP "$browser_pid"
    for _ in $(seq "$patience"); do [ "$(process_state "$browser_pid")" = T ] && break; sleep 0.1; done
    rm -rf "$work/wd"
    kernel_write_proc "$work/wd" "$kernel" "$stand_x" "$browser_pid"
    as_kernel "$work/wd" "$stand_x" "$browser_pid" -- env -u BROWSER_WATCHDOG_COUNT \
        -u BROWSER_WATCHDOG_START -u BROWSER_WATCHDOG_PERIOD "${count_env[@]}" "${start_env[@]}" \
        "$watchdog_dir/browser-watchdog" "$stand_x" "$browser_pid" "$3"
    "${kernel_cmd[@]}" >"$work/watchdog.log" 2>&1 &
    watchdog_pid=$!
    pids+=("$watchdog_pid")
}
watchdog_end() {
    ended "$watchdog_pid" || kill -TERM "$watchdog_pid"
    reap "$watchdog_pid"
    kill -KILL "$browser_pid" 2>/dev/null || true
    reap "$browser_pid"
}
await_watchdog_log() {  # await_watchdog_log PATTERN: true once it is in the log
    for _ in $(seq "$patience"); do
        grep -q -- "$1" "$work/watchdog.log" && return 0
        ended "$watchdog_pid" && break
        sleep 0.1
    done
    grep -q -- "$1" "$work/watchdog.log"
}
# Its fatal line at start, for a count this kernel cannot give.
fatal_line='^Browser controller: fatal error (cannot parse /proc/\(meminfo\|\.\.\./status\)), exiting\.\.\.$'
expect_fatal() {  # expect_fatal WHEN
    reap "$watchdog_pid"
    { [ "$status" -eq 1 ] && grep -q "$fatal_line" "$work/watchdog.log"; } ||
        problem "the watchdog $1 did not end with its fatal line (status $status): $(cat "$work/watchdog.log")"
    ! grep -q 'signalling\|limit exceeded' "$work/watchdog.log" ||
        problem "the watchdog $1 checked before it ended: $(cat "$work/watchdog.log")"
    [ "$(process_state "$browser_pid")" = T ] || problem "the watchdog $1 let the browser run"
    kill -KILL "$browser_pid" 2>/dev/null || true
    reap "$browser_pid"
}

# The watchdog with count $1: its outcome into watchdog_outcome.
watchdog_row() {
    local count=$1 expected x m memory total reserve
    expected=$(watchdog_expected "$1")
    # At its default start it checks one period after start: a count it
    # cannot give must end it first, and one it can leaves it waiting in
    # its main loop.
    watchdog_once "$count" "" 1
    for _ in $(seq "$patience"); do
        ended "$watchdog_pid" && break
        grep -q '^Browser controller: x_pid=' "$work/watchdog.log" && in_poll "$watchdog_pid" && break
        sleep 0.1
    done
    if ended "$watchdog_pid"; then
        watchdog_outcome=refused
        [ "$expected" = refused ] ||
            problem "the watchdog ended at start where it can count: $(cat "$work/watchdog.log")"
        expect_fatal "at start"
    else
        watchdog_outcome=runs
        [ "$expected" = runs ] ||
            problem "the watchdog waits for its first check with a count this kernel cannot give"
        watchdog_end
    fi
    # Releasing a held browser is the session's, run above with every count.
    [ "$expected" = runs ] || return 0
    # At the limit: the kernel's figures, the browser stopped, the dialog.
    total=$((dev_mem_total + dev_swap_total))
    case $count in
        resident | headroom)
            x=$((dev_x[1] + dev_x[2]))
            m=$((dev_browser[1] + dev_browser[2])) ;;
        *)
            x=$((dev_x[0] / page_kib * page_kib))
            m=$((dev_browser[0] / page_kib * page_kib)) ;;
    esac
    memory=$((x + m))
    if [ "$count" = headroom ]; then
        local reclaimable=$dev_sreclaimable
        has krec && reclaimable=$dev_kreclaimable
        memory=$((total - dev_free - dev_active_file - dev_inactive_file - reclaimable - dev_swap_free))
        # What each holds, as the resident count gives it where the kernel
        # can; where it cannot, the limit line's shares are not the point.
        has vmswap || x='[0-9]*' m='[0-9]*'
    fi
    reserve=$(((total - memory + 1023) / 1024))
    [ $((reserve * 1024 + 10240)) -lt "$total" ] ||
        { problem "the device shape leaves no reserve that reaches the limit"; return; }
    watchdog_once "$count" held "$reserve"
    if await_watchdog_log "^Browser controller: memory limit exceeded, memory=$memory (X=$x, durezezur=$m)$"; then
        await_watchdog_log "^Browser controller: showing confirmation dialog$" ||
            problem "no dialog at the limit: $(cat "$work/watchdog.log")"
        grep -q "^Browser controller: signalling process $browser_pid ($(kill -l STOP))... ok$" \
            "$work/watchdog.log" || problem "the browser was not stopped at the limit"
        ended "$watchdog_pid" && problem "the watchdog ended at the limit: $(cat "$work/watchdog.log")"
    elif ended "$watchdog_pid"; then
        problem "a held browser, the watchdog failed at its first check: $(cat "$work/watchdog.log")"
    else
        problem "no limit line of memory=$memory (X=$x, durezezur=$m): $(cat "$work/watchdog.log")"
    fi
    watchdog_end
}

sleep 3600 &
stand_x=$!
pids+=("$stand_x")

# KERNEL_TABLE_ONLY: the rows to run (default: every one).
for kernel in ${KERNEL_TABLE_ONLY:-$(kernels)}; do
    count=-
    kernel_load "$kernel" || { problem "no such row"; continue; }
    mapfile -t refused_calls < <(kernel_refused_calls)
    row_dir=$work/proc-$kernel
    # The session's browser is not known before it starts: its files are
    # this machine's own.
    kernel_write_proc "$row_dir" "$kernel" "$x_pid" 0
    for count in default headroom resident size; do
        session_row "$count"
        watchdog_row "$count"
        setting=$session_said
        [[ $setting != *' '* ]] || setting="\"$setting\""
        echo "kernel=$kernel count=$count outcome=$session_outcome setting=$setting" \
            "watchdog=$watchdog_outcome calls=$kernel_calls box=\"${said_box:--}\""
    done
done

if [ "${#failures[@]}" -gt 0 ]; then
    echo "kernel table: ${#failures[@]} failed:"
    printf '  %s\n' "${failures[@]}"
    exit 1
fi
echo "kernel table: all rows passed"
