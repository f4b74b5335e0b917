#!/bin/bash
# A watched pid that goes to another process must never turn the watchdog
# on that process. In a PID namespace of its own, where writing
# ns_last_pid chooses the next pid, two cases:
#   1. the stopped browser is killed by someone else while the dialog
#      waits, and its pid goes to a new process: the answer leaves that
#      process running;
#   2. the browser ends between two checks and its pid goes to a process
#      large enough to reach the limit: the watchdog ends with the statm
#      open message and leaves it running.
# Usage: pid_reuse_test.sh WATCHDOG [EMULATOR ARGS...] (as root; skipped,
# status 77, where a PID namespace cannot be made).
set -euo pipefail

if [ -z "${PID_REUSE_INSIDE:-}" ]; then
    if [ "$(id -u)" -ne 0 ] || ! unshare -p -f --mount-proc true 2>/dev/null; then
        echo "SKIP: needs root and PID and mount namespaces"
        exit 77
    fi
    PID_REUSE_INSIDE=1 exec unshare -p -f --mount-proc bash "$0" "$@"
fi

# shellcheck source=tests/lib.sh
. "$(dirname "$0")/../lib.sh"
watchdog=$1
shift
emulator=("$@")
fail_logs=("$work/log")
end_test() {
    kill -KILL "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    umount -q "$work"/* 2>/dev/null || true
}
# Waits at most $3 tenths of a second for process $1 to be in state $2.
await_state() { for _ in $(seq "$3"); do [ "$(process_state "$1")" = "$2" ] && return 0; sleep 0.1; done; return 1; }
# Reaps the watchdog once it has ended, within $1 tenths: its exit status
# goes into status.
await_watchdog() {
    # Ended: a zombie, or already reaped by the shell (which keeps its status).
    for _ in $(seq "$1"); do
        case $(process_state "$watchdog_pid") in Z | gone) break ;; esac
        sleep 0.1
    done
    case $(process_state "$watchdog_pid") in Z | gone) ;; *) fail "the watchdog did not end" ;; esac
    status=0
    wait "$watchdog_pid" || status=$?
}
await_log() { for _ in $(seq "$2"); do grep -qF -- "$1" "$work/log" && return 0; sleep 0.1; done; return 1; }

# Starts "sleep 1000" as pid $1: the pid the next fork takes is one above
# ns_last_pid. Another fork in the namespace may come first: try again.
reuse_pid() {
    local want=$1 got
    for _ in $(seq 50); do
        echo $((want - 1)) >/proc/sys/kernel/ns_last_pid
        sleep 1000 &
        got=$!
        pids+=("$got")
        [ "$got" -eq "$want" ] && { await_state "$got" S 100 || fail "pid $got never slept"; return 0; }
        kill -KILL "$got"
        wait "$got" 2>/dev/null || true
    done
    fail "pid $want could not be given to a new process"
}

start_x

# RAM plus swap 120000 KiB, reserve 1 MiB: the limit is 118976 KiB.
page_kib=$(($(getconf PAGESIZE) / 1024))
limit_pages=$((118976 / page_kib))
printf 'MemTotal:  100000 kB\n' >"$work/meminfo"
printf 'Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n/swapfile  file\t\t20000\t\t0\t\t-2\n' >"$work/swaps"
mount --bind "$work/meminfo" /proc/meminfo
mount --bind "$work/swaps" /proc/swaps

# Starts the X server's and the browser's stand-ins (x_pid, browser_pid),
# with the X server's size $1 pages.
stage() {
    sleep 1000 & x_pid=$!
    sleep 1000 & browser_pid=$!
    pids+=("$x_pid" "$browser_pid")
    echo "$1 1 1 1 0 1 0" >"$work/x.statm"
    mount --bind "$work/x.statm" "/proc/$x_pid/statm"
}

run_watchdog() {
    : >"$work/log"
    "${emulator[@]}" "$watchdog" "$x_pid" "$browser_pid" 1 >"$work/log" 2>"$work/err" &
    watchdog_pid=$!
    pids+=("$watchdog_pid")
}

# The log line of signal number $1 to the browser, with outcome $2, as a
# basic regular expression.
signal_line() { echo "Browser controller: signalling process $browser_pid ($1)\.\.\. $2"; }

echo "== the browser killed while the dialog waits, its pid reused"
stage 1000
echo "$((limit_pages - 1000)) 1 1 1 0 1 0" >"$work/browser.statm"
mount --bind "$work/browser.statm" "/proc/$browser_pid/statm"
run_watchdog
await_log "showing confirmation dialog" 100 || fail "no dialog"
await_state "$browser_pid" T 50 || fail "the browser was not stopped"
kill -KILL "$browser_pid"
wait "$browser_pid" 2>/dev/null || true
reuse_pid "$browser_pid"
stranger=$browser_pid
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Error$' | head -n1)
xdotool windowfocus --sync "$dialog" key Escape
await_watchdog 100
[ "$status" -eq 0 ] || fail "exit status $status"
# SIGCONT, then SIGKILL (the target's numbers: an emulated one's differ).
tail -n 2 "$work/log" >"$work/answer"
{ grep -qx "$(signal_line '[0-9][0-9]*' failed)" <(head -n 1 "$work/answer") &&
    grep -qx "$(signal_line 9 failed)" <(tail -n 1 "$work/answer"); } ||
    fail "the answer signalled the new process"
[ "$(process_state "$stranger")" = S ] || fail "the new process is in state $(process_state "$stranger")"
echo "ok: the new process $stranger is untouched"
kill -KILL "$x_pid" "$stranger"

echo "== the browser ended between two checks, its pid reused by a larger process"
# Any real process reaches the limit beside an X server this size.
stage $((limit_pages - 100))
mkfifo "$work/browser.fifo"
mount --bind "$work/browser.fifo" "/proc/$browser_pid/statm"
run_watchdog
# The first check reads the browser's size from the pipe: once that write
# is done, the check has run and the next is a period away.
echo "10 1 1 1 0 1 0" >"$work/browser.fifo"
kill -KILL "$browser_pid"
wait "$browser_pid" 2>/dev/null || true
reuse_pid "$browser_pid"
stranger=$browser_pid
await_watchdog 200
[ "$status" -eq 1 ] || fail "exit status $status"
[ "$(tail -n 1 "$work/log")" = "Browser controller: fatal error (cannot open /proc/.../statm), exiting..." ] ||
    fail "not the statm open message"
grep -q signalling "$work/log" && fail "a signal was sent"
[ "$(process_state "$stranger")" = S ] || fail "the new process is in state $(process_state "$stranger")"
echo "ok: the watchdog ended at its next check; the new process $stranger is untouched"
