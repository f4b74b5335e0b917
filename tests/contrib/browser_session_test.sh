#!/bin/bash
# The example session on a real X server: it must hand the watchdog the X
# server's own pid and the pid of the browser it started, and end when the
# browser ends. Usage: browser_session_test.sh SESSION_SCRIPT WATCHDOG_DIR
set -euo pipefail
session=$1
watchdog_dir=$2
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; cat "$work/session.log" 2>/dev/null; exit 1; }

# An X server on a numbered display, so that it keeps a lock file.
for n in $(seq 140 199); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -nolisten tcp >"$work/xvfb.log" 2>&1 &
    x_pid=$!
    pids+=("$x_pid")
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    kill -0 "$x_pid" 2>/dev/null && break
done
export DISPLAY=":$n"

PATH="$watchdog_dir:$PATH" SESSION_ONCE=1 BROWSER="sleep 600" RESERVE_MIB=1 \
    "$session" >"$work/session.log" 2>&1 &
session_pid=$!
pids+=("$session_pid")

for _ in $(seq 100); do
    grep -q x_pid "$work/session.log" && break
    sleep 0.1
done
browser_pid=$(pgrep -P "$session_pid" -x sleep) || fail "no browser started"
grep -q "^Browser controller: x_pid=$x_pid, moz_pid=$browser_pid, " "$work/session.log" ||
    fail "the watchdog was not given X server $x_pid and browser $browser_pid"

# The browser ends; the watchdog follows at its next check, then the session.
kill "$browser_pid"
for _ in $(seq 60); do
    kill -0 "$session_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$session_pid" 2>/dev/null && fail "the session did not end with the browser"
pids=("$x_pid")  # the session has ended: never signal its old pid
grep -q 'fatal error (cannot open /proc/.../statm), exiting...' "$work/session.log" ||
    fail "the watchdog did not end at its next check"
