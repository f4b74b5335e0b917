# shellcheck shell=bash
# What the shell tests share: a scratch directory ($work) and the processes
# to end with it ($pids), one way to fail and one to skip, and an X server
# of their own. Source it first; the caller sets -euo pipefail. It brings
# scripts/common.sh, and with it the facts read off /proc.
#
# Every wait is for a state; patience only bounds how long a state that
# never comes is waited for (tenths of a second), with room for a loaded
# machine.
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
patience=600
work=$(mktemp -d "${work_parent:-${TMPDIR:-/tmp}}/test.XXXXXX")
pids=()
# The files a failure shows, the test's logs.
fail_logs=()
# A test that has more to undo defines end_test; it runs first.
end_all() {
    if declare -F end_test >/dev/null; then end_test || true; fi
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    rm -rf "$work"
}
trap end_all EXIT

fail() {
    echo "FAIL: $*"
    [ ${#fail_logs[@]} -eq 0 ] || cat "${fail_logs[@]}" 2>/dev/null || true
    exit 1
}
skip() { echo "SKIP: $*"; exit 77; }

# start_x: an X server on a free numbered display, which writes its lock
# file as a device's does; DISPLAY names it, x_pid is its pid. With
# start_x_nolock the test writes the lock file itself; such a server takes
# no lock that would keep another test's server off its display, so it
# looks from the top of the range down, where the others, from the bottom
# up, are the last to look. x_user, when set, is the user it runs as.
x_user=()
start_x() { start_display ''; }
start_x_nolock() { start_display nolock; }
start_display() {
    local n
    for n in $(if [ -n "${1:-}" ]; then seq 199 -1 140; else seq 140 199; fi); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        "${x_user[@]}" Xvfb ":$n" -nolisten tcp ${1:+-nolock} >"$work/xvfb.log" 2>&1 &
        x_pid=$!
        pids+=("$x_pid")
        for _ in $(seq "$patience"); do
            x_serves "$x_pid" "$n" "${1:-}" && break
            kill -0 "$x_pid" 2>/dev/null || break
            sleep 0.1
        done
        if x_serves "$x_pid" "$n" "${1:-}" && kill -0 "$x_pid" 2>/dev/null; then
            export DISPLAY=":$n"
            return 0
        fi
    done
    fail "no X server: $(cat "$work/xvfb.log")"
}
