#!/bin/bash
# The example session on a real X server: it must hand the watchdog the X
# server's own pid, the pid of the browser it started and the reserve it
# chose from the device's figures; aim the OOM killer at the browser; end
# when the browser ends; refuse a reserve that leaves no room; and say so
# when the watchdog fails while the browser runs.
# Usage: browser_session_test.sh SESSION_SCRIPT WATCHDOG_DIR
set -euo pipefail
session=$1
watchdog_dir=$2
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; cat "$work/session.log" "$work/session.err" 2>/dev/null; exit 1; }

# An X server on a numbered display. With "nolock" the test writes the lock
# file itself.
start_x() {
    local n
    for n in $(seq 140 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -nolisten tcp ${1:+-nolock} >"$work/xvfb.log" 2>&1 &
        x_pid=$!
        pids+=("$x_pid")
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        kill -0 "$x_pid" 2>/dev/null && break
    done
    export DISPLAY=":$n"
}

# Runs the session once with a sleeping browser: run_session [VAR=VALUE...]
run_session() {
    : >"$work/session.log"
    env PATH="$watchdog_dir:$PATH" SESSION_ONCE=1 BROWSER="sleep 600" "$@" \
        "$session" >"$work/session.log" 2>"$work/session.err" &
    session_pid=$!
    pids+=("$session_pid")
}
await() {  # await FILE PATTERN TENTHS
    for _ in $(seq "$3"); do
        grep -q -- "$2" "$1" && return 0
        kill -0 "$session_pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -q -- "$2" "$1"
}
await_session_end() {
    for _ in $(seq 60); do
        kill -0 "$session_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$session_pid" 2>/dev/null && fail "the session did not end"
    session_status=0
    wait "$session_pid" || session_status=$?
    local kept=() p  # ended: never signal its old pid
    for p in "${pids[@]}"; do [ "$p" = "$session_pid" ] || kept+=("$p"); done
    pids=("${kept[@]}")
}

start_x

# The whole run: honest pids, the OOM killer aimed at the browser, and the
# session ends with the browser.
run_session RESERVE_MIB=1
await "$work/session.log" x_pid 100 || fail "no start-up line"
browser_pid=$(pgrep -P "$session_pid" -x sleep) || fail "no browser started"
grep -q "^Browser controller: x_pid=$x_pid, moz_pid=$browser_pid, .*memory_diff=1024$" \
    "$work/session.log" || fail "the watchdog was not given X server $x_pid and browser $browser_pid"
[ "$(cat "/proc/$browser_pid/oom_score_adj")" = 1000 ] || fail "the browser's oom_score_adj is not 1000"
kill "$browser_pid"
await_session_end
grep -q 'fatal error (cannot open /proc/.../statm), exiting...' "$work/session.log" ||
    fail "the watchdog did not end at its next check"
grep -q 'not watched' "$work/session.err" && fail "a browser that ended was reported unwatched"

# The reserve the session chooses, on chosen figures: MemTotal MemAvailable
# SwapTotal (KiB), the X server's VmSize (KiB), then the reserve in MiB and
# the limit, or "refused".
while read -r name ram avail swap x_size reserve limit; do
    proc=$work/proc-$name
    mkdir -p "$proc/$x_pid"
    printf 'MemTotal: %s kB\nMemFree: 1000 kB\nMemAvailable: %s kB\nSwapTotal: %s kB\n' \
        "$ram" "$avail" "$swap" >"$proc/meminfo"
    printf 'Name:\tXvfb\nVmPeak:\t%s kB\nVmSize:\t%s kB\n' "$((x_size + 4))" "$x_size" \
        >"$proc/$x_pid/status"
    run_session SESSION_PROC="$proc"
    if [ "$reserve" = refused ]; then
        await_session_end
        [ "$session_status" -ne 0 ] || fail "$name: the session did not fail"
        grep -q "no room for the browser; not starting it unwatched" "$work/session.err" ||
            fail "$name: no refusal on stderr"
        [ ! -s "$work/session.log" ] || fail "$name: a watchdog was started"
        continue
    fi
    await "$work/session.log" x_pid 100 || fail "$name: no start-up line"
    grep -q "^browser-session: reserve $reserve MiB (RAM+swap $((ram + swap)) KiB: .*): limit $limit KiB$" \
        "$work/session.err" || fail "$name: not a reserve of $reserve MiB and a limit of $limit KiB"
    grep -q "memory_diff=$((reserve * 1024))$" "$work/session.log" ||
        fail "$name: the watchdog was not given $reserve MiB"
    pkill -P "$session_pid" -x sleep
    await_session_end
done <<'CASES'
device-64mib  49492    35700    65532 19984  39   75088
host-24gib    24683772 22000000 0     230000 8439 16042236
no-swap       524288   464288   0     19984  184  335872
too-small     30000    5000     0     19984  refused -
CASES

# Figures that cannot be read: no guess, no browser; RESERVE_MIB wins.
run_session SESSION_PROC="$work/nowhere"
await_session_end
[ "$session_status" -ne 0 ] && grep -q "set RESERVE_MIB$" "$work/session.err" ||
    fail "unreadable figures did not stop the session"
[ ! -s "$work/session.log" ] || fail "a watchdog was started on unreadable figures"
run_session SESSION_PROC="$work/nowhere" RESERVE_MIB=7
await "$work/session.log" x_pid 100 || fail "RESERVE_MIB: no start-up line"
grep -qx "browser-session: reserve 7 MiB (RESERVE_MIB)" "$work/session.err" &&
    grep -q "memory_diff=7168$" "$work/session.log" || fail "RESERVE_MIB did not win"
pkill -P "$session_pid" -x sleep
await_session_end

# No watchdog in PATH (an empty directory: an installed package must not
# count): no browser runs unwatched.
mkdir "$work/empty"
run_session PATH="$work/empty" RESERVE_MIB=7 BROWSER="$(command -v touch) $work/browser-started"
await_session_end
[ "$session_status" -eq 1 ] && grep -q "^browser-session: no browser-watchdog in PATH ($work/empty): not starting the browser unwatched$" \
    "$work/session.err" || fail "a missing watchdog did not stop the session"
[ ! -e "$work/browser-started" ] || fail "a browser was started without a watchdog"

# A watchdog that fails at its first check (here: the X server named by the
# lock file is gone) while the browser runs: the session says so and leaves
# the browser alone. Only root may start an X server without its lock.
if [ "$(id -u)" -ne 0 ]; then
    echo "browser session: all cases passed but the failing watchdog (needs root)"
    exit 0
fi
kill "$x_pid"
wait "$x_pid" 2>/dev/null || true
start_x nolock
sleep 0 & gone=$!
wait "$gone"
echo "$gone" >"/tmp/.X${DISPLAY#:}-lock"
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work" "/tmp/.X${DISPLAY#:}-lock"' EXIT
run_session RESERVE_MIB=1
await "$work/session.err" "not watched" 100 ||
    fail "no word of a watchdog that ended while the browser runs"
grep -q "^browser-session: the watchdog ended with status 1 while browser [0-9]* runs: the browser is not watched$" \
    "$work/session.err" || fail "the notice does not give the watchdog's status"
browser_pid=$(pgrep -P "$session_pid" -x sleep) || fail "the browser was ended"
kill "$browser_pid"
await_session_end
echo "browser session: all cases passed"
