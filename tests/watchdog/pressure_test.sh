#!/bin/bash
# The memory pressure trigger, for real: with the adaptive period, a stall
# on memory must bring a check at once, and where no trigger can be had
# the period must go on alone. The watchdog runs under strace, which
# counts what happens (a poll that the trigger ended, the check after it),
# never how long it took. Cases:
#   trigger   a reader in a memory cgroup held far below what it reads
#             stalls; a poll ends on the trigger (POLLPRI) and a check
#             follows
#   no-file   /proc/pressure hidden (a kernel without it)
#   not-proc  a writable file laid over /proc/pressure/memory, which takes
#             a trigger and never wakes anyone
#   no-right  a file nobody may write laid over it, the watchdog run as
#             nobody (a kernel that refuses an unprivileged trigger)
# Usage: pressure_test.sh WATCHDOG [EMULATOR ARGS...] (as root; skipped,
# status 77, without memory pressure information, strace or a memory
# cgroup).
set -euo pipefail
# A scratch directory the memory cgroup's reader may fill, not in memory.
work_parent=/var/tmp
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/../lib.sh"
watchdog=$1
shift
emulator=("$@")
[ "$(id -u)" -eq 0 ] || skip "needs root"
[ -e /proc/pressure/memory ] || skip "no /proc/pressure/memory"
command -v strace >/dev/null || skip "no strace"
unshare -m true 2>/dev/null || skip "no mount namespace"

group=
end_test() {
    kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    [ -z "$group" ] || rmdir "$group" 2>/dev/null || true
}

# A memory cgroup of our own: cgroup v2 where the memory controller is
# there, else v1.
v2=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/mounts)
v1=$(awk '$3 == "cgroup" && $4 ~ /(^|,)memory(,|$)/ { print $2; exit }' /proc/mounts)
if [ -n "$v2" ] && grep -qw memory "$v2/cgroup.subtree_control" 2>/dev/null; then
    group=$v2/pressure-test-$$
    mkdir "$group"
    echo 4M >"$group/memory.high"
elif [ -n "$v1" ]; then
    group=$v1/pressure-test-$$
    mkdir "$group"
    echo 4M >"$group/memory.limit_in_bytes"
else
    skip "no memory cgroup"
fi

start_x
sleep 100000 & pids+=($!); x=$!
sleep 100000 & pids+=($!); browser=$!

# Runs the watchdog far from its limit (a reserve of 1 MiB) under strace,
# in a mount namespace of its own where $2... is mounted first; case $1.
watch() {
    local case=$1
    shift
    # shellcheck disable=SC2016 # the inner shell expands its own arguments
    unshare -m sh -c 'mount --make-rprivate / && eval "$1" && shift && exec "$@"' sh "$*" \
        strace -f -o "$work/$case.strace" -e trace=openat,write,poll,ppoll "${as_user[@]}" \
        env BROWSER_WATCHDOG_PERIOD=adaptive "${emulator[@]}" "$watchdog" "$x" "$browser" 1 \
        >"$work/$case.log" 2>&1 &
    pids+=($!)
    watcher=$!
}
# Waits at most $2 tenths of a second for the strace log of case $1 to
# hold $3 lines that match $4.
await_lines() {
    local n
    for _ in $(seq "$2"); do
        n=$(grep -c -E "$4" "$work/$1.strace" 2>/dev/null || true)
        [ "${n:-0}" -ge "$3" ] && return 0
        sleep 0.1
    done
    return 1
}
check_line='openat\([0-9]+, "statm"'
trigger_line='openat\([0-9]+, "pressure/memory", O_RDWR'

# trigger: the reader stalls until a poll ends on the trigger.
as_user=()
watch trigger true
await_lines trigger 100 2 "$check_line" || fail "trigger: no first check"
grep -E "$trigger_line.* = [0-9]+$" "$work/trigger.strace" >/dev/null ||
    fail "trigger: none opened: $(grep pressure "$work/trigger.strace")"
# shellcheck disable=SC2016 # the inner shell expands its own arguments
sh -c 'echo $$ >"$1/cgroup.procs" && head -c 64M /dev/zero >"$2" &&
       while :; do cat "$2" >/dev/null; done' sh "$group" "$work/pages" &
pids+=($!)
reader=$!
await_lines trigger 600 1 'revents=POLLPRI' || fail "trigger: the stall never woke the watchdog"
kill "$reader"
# What the wake-up ran: everything from that poll to the next one.
awk '/revents=POLLPRI/ && !seen { seen = 1; next } seen && /poll\(/ { exit } seen' \
    "$work/trigger.strace" >"$work/woken"
grep -E "$check_line" "$work/woken" >/dev/null ||
    fail "trigger: no check after the wake-up: $(cat "$work/woken")"
grep -q 'limit exceeded' "$work/trigger.log" && fail "trigger: the limit line far from the limit"

# Without a trigger, checks go on at the period and nothing polls for one:
# the three cases side by side.
: >"$work/not-proc-file"
cp /proc/pressure/memory "$work/no-right-file"
chmod 444 "$work/no-right-file"
cases='no-file root -1.ENOENT mount -t tmpfs none /proc/pressure
not-proc root [0-9]+$ mount --bind '"$work"'/not-proc-file /proc/pressure/memory
no-right nobody -1.EACCES mount --bind '"$work"'/no-right-file /proc/pressure/memory'
declare -A watchers
while read -r case user _ mounts; do
    as_user=()
    [ "$user" = root ] || as_user=(setpriv --reuid="$user" --regid=65534 --clear-groups)
    watch "$case" "$mounts"
    watchers[$case]=$watcher
done <<<"$cases"
while read -r case _ opened _; do
    # Two checks, each of two statm files.
    await_lines "$case" 200 4 "$check_line" ||
        fail "$case: the period did not go on: $(cat "$work/$case.log")"
    ! grep -q POLLPRI "$work/$case.strace" || fail "$case: polled a trigger that is none"
    # What asking for one gave: the reason the case stands for.
    grep -E "$trigger_line.* = $opened" "$work/$case.strace" >/dev/null ||
        fail "$case: asked otherwise: $(grep pressure "$work/$case.strace")"
    pkill -P "${watchers[$case]}" || true
    kill "${watchers[$case]}" 2>/dev/null || true
done <<<"$cases"
echo "PASS"
