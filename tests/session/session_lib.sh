# shellcheck shell=bash
# What the session's tests share: the session run once with a stand-in
# browser, and waits for what it does. Source with $session (the program)
# and $watchdog_dir (the directory of browser-watchdog) set; the caller
# sets -euo pipefail.
# shellcheck source=tests/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
fail_logs=("$work/session.log" "$work/session.err")

# Runs the session once with a sleeping browser: run_session [VAR=VALUE...].
# SIGINT is left as the session would find it under xinit (a shell ignores
# it in what it starts in the background).
perl=$(command -v perl)
session_cmd=("$session")
run_session() {
    : >"$work/session.log"
    # shellcheck disable=SC2016 # perl's own variables
    # shellcheck disable=SC2154 # set by the test that sources this
    env PATH="$watchdog_dir:$PATH" SESSION_ONCE=1 BROWSER="sleep 600" "$@" \
        "$perl" -e '$SIG{INT} = "DEFAULT"; exec @ARGV' "${session_cmd[@]}" \
        >"$work/session.log" 2>"$work/session.err" &
    session_pid=$!
    pids+=("$session_pid")
}
# Waits at most $1 tenths (default: $patience) for the watchdog to release the
# session's $2nd browser (default: the first); its pid then is browser_pid.
await_release() {
    local released=()
    for _ in $(seq "${1:-$patience}"); do
        mapfile -t released < <(sed -n \
            's/^Browser controller: signalling process \([0-9]*\) ([0-9]*)... ok$/\1/p' "$work/session.log")
        [ "${#released[@]}" -ge "${2:-1}" ] && break
        sleep 0.1
    done
    [ "${#released[@]}" -ge "${2:-1}" ] || fail "no browser released"
    # shellcheck disable=SC2034 # for the test that sources this
    browser_pid=${released[$((${2:-1} - 1))]}
}
# A browser-watchdog for PATH, before the real one: fake_watchdog NAME SCRIPT
# (the script's $real runs the real one).
fake_watchdog() {
    mkdir -p "$work/$1"
    printf '#!/bin/sh\nreal=%s/browser-watchdog\n%s\n' "$watchdog_dir" "$2" \
        >"$work/$1/browser-watchdog"
    chmod +x "$work/$1/browser-watchdog"
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
    for _ in $(seq "$patience"); do
        kill -0 "$session_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$session_pid" 2>/dev/null && fail "the session did not end"
    session_status=0
    wait "$session_pid" 2>/dev/null || session_status=$?
    local kept=() p  # ended: never signal its old pid
    for p in "${pids[@]}"; do [ "$p" = "$session_pid" ] || kept+=("$p"); done
    pids=("${kept[@]}")
    ! grep -v '^browser-session: ' "$work/session.err" ||
        fail "a line on the session's stderr without its prefix"
}
