#!/bin/bash
# The example session on a real X server: it must hand the watchdog the X
# server's own pid, the pid of the browser it started and the reserve it
# chose from the device's figures (or was given, if the watchdog takes it);
# aim the OOM killer at the browser; end when the browser ends; back off
# from a browser that cannot start; refuse a stale lock file or a reserve
# that leaves no room; and say so when the watchdog fails while the browser
# runs.
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
# Runs the session once with a browser that would leave a mark, and expects
# a refusal: status 1, a line matching PATTERN on stderr, no browser.
expect_refused() {  # expect_refused WHAT PATTERN [VAR=VALUE...]
    local what=$1 pattern=$2
    shift 2
    rm -f "$work/browser-started"
    run_session BROWSER="$(command -v touch) $work/browser-started" "$@"
    await_session_end
    { [ "$session_status" -eq 1 ] && grep -q -- "$pattern" "$work/session.err"; } ||
        fail "$what was not refused"
    [ ! -e "$work/browser-started" ] || fail "$what started a browser"
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
grep -q 'fatal error (cannot open /proc/.../status), exiting...' "$work/session.log" ||
    fail "the watchdog did not end at its next check"
grep -q 'not watched' "$work/session.err" && fail "a browser that ended was reported unwatched"

# The reserve the session chooses, on chosen figures: MemTotal and what is
# in use (KiB; MemAvailable shows a dip the session must not take), the
# first swap area (KiB; a second one of 1 GiB is never counted), the X
# server's VmRSS and VmSwap (KiB), then the reserve in MiB and the limit, or
# "refused". A reserve cut to fit the device, and a browser left less than
# 16 MiB, are said with what the device lacks.
while read -r name ram in_use swap x_rss x_swap reserve limit; do
    proc=$work/proc-$name
    mkdir -p "$proc/$x_pid"
    printf 'MemTotal: %s kB\nMemFree: %s kB\nMemAvailable: %s kB\nActive(file): 1000 kB\nInactive(file): 2000 kB\nSwapTotal: %s kB\nKReclaimable: 1000 kB\n' \
        "$ram" "$((ram - in_use - 4000))" "$(((ram - in_use) / 2))" "$((swap + 1048576))" >"$proc/meminfo"
    printf 'Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n' >"$proc/swaps"
    [ "$swap" -eq 0 ] || printf '/dev/sda2                               partition\t%s\t\t0\t\t-2\n/swapfile                               file\t\t1048576\t\t0\t\t-3\n' \
        "$swap" >>"$proc/swaps"
    printf 'Name:\tXvfb\nVmSize:\t%s kB\nVmRSS:\t%s kB\nVmSwap:\t%s kB\n' "$((x_rss * 3))" "$x_rss" "$x_swap" \
        >"$proc/$x_pid/status"
    run_session SESSION_PROC="$proc"
    if [ "$reserve" = refused ]; then
        await_session_end
        [ "$session_status" -eq 1 ] || fail "$name: the session did not fail"
        grep -q "no room for the browser; not starting it unwatched" "$work/session.err" ||
            fail "$name: no refusal on stderr"
        [ ! -s "$work/session.log" ] || fail "$name: a watchdog was started"
        continue
    fi
    await "$work/session.log" x_pid 200 || fail "$name: no start-up line"
    grep -q "^browser-session: reserve $reserve MiB (RAM+swap $((ram + swap)) KiB: .*): limit $limit KiB$" \
        "$work/session.err" || fail "$name: not a reserve of $reserve MiB and a limit of $limit KiB"
    case $name in
        cut-*) grep -q "the device lacks [0-9]* KiB; reserve cut to $reserve MiB$" "$work/session.err" ||
            fail "$name: the cut is not said" ;;
        *) grep -q "reserve cut" "$work/session.err" && fail "$name: a cut that was not made" ;;
    esac
    room=$((limit - x_rss - x_swap))
    if [ "$room" -lt 16384 ]; then
        grep -q "^browser-session: the browser has $room KiB beside the X server: the device lacks $((16384 - room)) KiB" \
            "$work/session.err" || fail "$name: the browser's small room is not said"
    else
        grep -q "the browser has" "$work/session.err" && fail "$name: a small room that is not"
    fi
    grep -q "memory_diff=$((reserve * 1024))$" "$work/session.log" ||
        fail "$name: the watchdog was not given $reserve MiB"
    pkill -P "$session_pid" -x sleep
    await_session_end
done <<'CASES'
device-64+64  49492    13760   65532 10700  0     62   51536
cut-64+0      49492    13760   0     10700  0     27   21844
swapped-x     49492    13760   65532 6700   4000  62   51536
no-swap-128   114404   14200   0     10600  0     39   74468
host-24gib    24683772 2683772 0     230000 0     6430 18099452
too-small     30000    25000   0     19984  0     refused -
CASES

# Figures that cannot be read: no guess, no browser. A reserve given is
# still checked against the total the watchdog counts.
run_session SESSION_PROC="$work/nowhere"
await_session_end
{ [ "$session_status" -eq 1 ] && grep -q "set RESERVE_MIB$" "$work/session.err"; } ||
    fail "unreadable figures did not stop the session"
[ ! -s "$work/session.log" ] || fail "a watchdog was started on unreadable figures"
run_session SESSION_PROC="$work/proc-cut-64+0" RESERVE_MIB=007
await "$work/session.log" x_pid 100 || fail "RESERVE_MIB: no start-up line"
{ grep -qx "browser-session: reserve 7 MiB (RESERVE_MIB): limit 42324 KiB" "$work/session.err" &&
    grep -q "memory_diff=7168$" "$work/session.log"; } || fail "RESERVE_MIB did not win"
pkill -P "$session_pid" -x sleep
await_session_end

# A reserve or a count the watchdog would not take: refused before any
# browser starts.
for bad in -1 +7 7.5 " 7" 7MiB 0x10 99999999999 39; do
    expect_refused "RESERVE_MIB='$bad'" "^browser-session: RESERVE_MIB=.*: not starting the browser$" \
        SESSION_PROC="$work/proc-cut-64+0" RESERVE_MIB="$bad"
done
expect_refused "an unknown count" \
    "^browser-session: BROWSER_WATCHDOG_COUNT=rss is neither resident nor size: not starting the browser$" \
    RESERVE_MIB=1 BROWSER_WATCHDOG_COUNT=rss

# The browser command is split into words, never expanded as a pattern.
touch "$work/glob-a" "$work/glob-b"
run_session RESERVE_MIB=1 BROWSER="$(command -v touch) $work/glob-*"
await_session_end
[ -e "$work/glob-*" ] || fail "\$BROWSER was expanded as a pattern"

# A browser that ends at once is started again after a pause that doubles.
run_session SESSION_ONCE= RESERVE_MIB=1 BROWSER=false
await "$work/session.err" "starting it again in 4 s" 150 ||
    fail "no growing pause for a browser that ends at once"
grep -q "^browser-session: the browser ended [0-4] s after its start: starting it again in 2 s$" \
    "$work/session.err" || fail "the first pause is not 2 s"
kill "$session_pid"
await_session_end

# No watchdog in PATH (an empty directory: an installed package must not
# count): no browser runs unwatched.
mkdir "$work/empty"
expect_refused "a missing watchdog" \
    "^browser-session: no browser-watchdog in PATH ($work/empty): not starting the browser unwatched$" \
    PATH="$work/empty" RESERVE_MIB=7

# The X server's lock file names a stand-in here. A stale one (its pid
# gone) stops the session; a watchdog that fails while the browser runs
# (the stand-in ends) is said, and the browser left alone. Only root may
# start an X server without its lock.
if [ "$(id -u)" -ne 0 ]; then
    echo "browser session: all cases passed but the lock file's (needs root)"
    exit 0
fi
kill "$x_pid"
wait "$x_pid" 2>/dev/null || true
start_x nolock
lock=/tmp/.X${DISPLAY#:}-lock
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work" "$lock"' EXIT
sleep 0 & gone=$!
wait "$gone"
printf '%10d\n' "$gone" >"$lock"
expect_refused "a stale lock file" \
    "^browser-session: $lock names pid $gone, which is not running: a stale lock file; not starting the browser$" \
    RESERVE_MIB=1

sleep 600 & stand_in=$!
pids+=("$stand_in")
printf '%10d\n' "$stand_in" >"$lock"
run_session RESERVE_MIB=1
await "$work/session.log" "x_pid=$stand_in" 100 || fail "no start-up line on the stand-in"
kill "$stand_in"
await "$work/session.err" "not watched" 100 ||
    fail "no word of a watchdog that ended while the browser runs"
grep -q "^browser-session: the watchdog ended with status 1 while browser [0-9]* runs: the browser is not watched$" \
    "$work/session.err" || fail "the notice does not give the watchdog's status"
browser_pid=$(pgrep -P "$session_pid" -x sleep) || fail "the browser was ended"
kill "$browser_pid"
await_session_end
echo "browser session: all cases passed"
