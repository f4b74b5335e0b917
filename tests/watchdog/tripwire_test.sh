#!/bin/bash
# The tripwire, for real: told a box with a memory controller, the watchdog
# keeps a boundary there at the point where its count would reach the
# limit, never below what the box holds; a burst of the browser that
# crosses it brings a check at once, not at the period's end. The watchdog
# runs on the resident count (the headroom count is the whole host's, which
# a busy machine moves), with the fixed period and so no memory pressure
# trigger, under strace, which tells what woke it (a poll that ended on the
# tripwire's descriptor, the check after it), never how long it took. The
# box is a cgroup made beneath the test's own and removed after. Cases, by
# what the host has:
#   v1  the v1 memory controller: a threshold of memory.memsw.usage_in_bytes
#       set through cgroup.event_control, on an eventfd
#   v2  cgroup v2 with the memory controller: memory.high, and the poll on
#       memory.events
# A host lacks one or the other: a stock Debian 12 host is pure v2, and its
# test's cgroup holds processes, so that it cannot give a child the memory
# controller; a hybrid one has v1 memory, and v2 without controllers;
# kernels from 6.11 have v1 memory only with CONFIG_MEMCG_V1. What it lacks
# is skipped, saying why; the emulated device covers v2 with swap.
# Usage: tripwire_test.sh WATCHDOG MEMORY_HOG [EMULATOR ARGS...] (as root;
# skipped, status 77, where neither case can run).
set -euo pipefail
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/../lib.sh"
watchdog=$1
hog=$2
shift 2
emulator=("$@")
[ "$(id -u)" -eq 0 ] || skip "tripwire: needs root, to make a cgroup"
command -v strace >/dev/null || skip "tripwire: needs strace"
boxes=()
end_test() {
    kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    local box
    for box in "${boxes[@]}"; do rmdir "$box" 2>/dev/null || true; done
}

# The test's own cgroup under the v1 memory controller, and under v2.
v1_mount=$(awk '$3 == "cgroup" && $4 ~ /(^|,)memory(,|$)/ { print $2; exit }' /proc/mounts)
v2_mount=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/mounts)
v1_own=$(awk -F: '$2 ~ /(^|,)memory(,|$)/ { print $3; exit }' /proc/self/cgroup)
v2_own=$(awk -F: '$1 == "0" { print $3; exit }' /proc/self/cgroup)
cases=()
why=()
if [ -n "$v1_mount" ] && [ -w "$v1_mount$v1_own" ]; then
    cases+=(v1)
else
    why+=("v1: no v1 memory controller here")
fi
if [ -n "$v2_mount" ] && grep -qw memory "$v2_mount$v2_own/cgroup.subtree_control" 2>/dev/null; then
    cases+=(v2)
else
    why+=("v2: the test's cgroup gives its children no memory controller here")
fi
[ ${#cases[@]} -gt 0 ] || skip "tripwire: ${why[*]}"
[ ${#why[@]} -eq 0 ] || echo "tripwire: left out: ${why[*]}"

start_x
sleep 100000 & pids+=($!); x=$!

# A box of this case: its directory, made beneath the test's own.
make_box() {
    local box
    case $1 in
        v1) box=$v1_mount$v1_own/tripwire-test-$$ ;;
        v2) box=$v2_mount$v2_own/tripwire-test-$$ ;;
    esac
    mkdir "$box"
    boxes+=("$box")
    echo "$box"
}

for case in "${cases[@]}"; do
    box=$(make_box "$case")
    # The browser: grows 64 MiB at once when told, in its box. It starts
    # with SIGUSR1 ignored, until its handler is in place: an emulator's
    # process sleeps before the program it runs has set its handler, and
    # the signal's default would end it.
    (trap '' USR1; exec "${emulator[@]}" "$hog" 64 64 0) & pids+=($!); browser=$!
    for _ in $(seq "$patience"); do [ "$(process_state "$browser")" = S ] && break; sleep 0.1; done
    echo "$browser" >"$box/cgroup.procs"
    # A limit 32 MiB above what the two hold.
    now=$(($(resident_kib "$x") + $(resident_kib "$browser")))
    reserve=$((($(ram_and_swap_kib) - now - 32768) / 1024))
    strace -f -s 64 -o "$work/$case.strace" -e trace=poll,ppoll,read,pread64,write,openat \
        env BROWSER_WATCHDOG_BOX="$box" BROWSER_WATCHDOG_COUNT=resident \
        BROWSER_WATCHDOG_PERIOD=fixed "${emulator[@]}" "$watchdog" "$x" "$browser" "$reserve" \
        >"$work/$case.log" 2>&1 &
    pids+=($!)
    fail_logs=("$work/$case.log")
    # The first check sets the tripwire.
    case $case in
        v1) set_line='write\([0-9]+, "[0-9]+ [0-9]+ [0-9]+"' ;;
        v2) set_line='write\([0-9]+, "[0-9]+", [0-9]+\) = [0-9]+$' ;;
    esac
    for _ in $(seq "$patience"); do grep -qsE "$set_line" "$work/$case.strace" && break; sleep 0.1; done
    grep -qE "$set_line" "$work/$case.strace" || fail "$case: no tripwire set: $(cat "$work/$case.strace")"
    # Never below what the box held: the point written lies above the
    # usage the same check read.
    held=$(grep -oE 'pread64\([0-9]+, "[0-9]+\\n"' "$work/$case.strace" | head -n 1 | grep -oE '"[0-9]+' | tr -d '"')
    at=$(grep -oE "$set_line" "$work/$case.strace" | head -n 1 | grep -oE '[0-9]+"' | tr -d '"')
    if [ -z "$held" ] || [ -z "$at" ] || [ "$at" -le "$held" ]; then
        fail "$case: the tripwire at ${at:-?} bytes is not above what the box held, ${held:-?}"
    fi
    # Memory the box takes and the count leaves out (a file written from
    # the box: its page cache) wakes the check below the limit; the
    # tripwire moves, and the checks go on to see the burst after it.
    sets=$(grep -cE "$set_line" "$work/$case.strace")
    # shellcheck disable=SC2016 # the inner shell's own variables
    sh -c 'echo $$ >"$1/cgroup.procs"; exec head -c 48M /dev/zero >"$2"' sh "$box" "$work/cache"
    for _ in $(seq "$patience"); do
        [ "$(grep -cE "$set_line" "$work/$case.strace")" -gt "$sets" ] && break
        sleep 0.1
    done
    [ "$(grep -cE "$set_line" "$work/$case.strace")" -gt "$sets" ] ||
        fail "$case: the tripwire did not move with the box's page cache"
    if grep -q "memory limit exceeded" "$work/$case.log"; then fail "$case: acted on the page cache"; fi
    # The burst just after a check, a period away from the next: only the
    # tripwire can bring the check that sees it sooner.
    # The check has begun with a read, and ended when its thread polls again.
    reads=$(grep -c 'pread64(' "$work/$case.strace")
    for _ in $(seq "$patience"); do
        [ "$(grep -c 'pread64(' "$work/$case.strace")" -gt "$reads" ] && break
        sleep 0.05
    done
    # (Each line starts with its thread's pid once strace follows more
    # than one.)
    checked() {
        awk '{ t = $1 ~ /^[0-9]+$/ ? $1 : "main" }
             /pread64\(/ { checker = t; polled = 0 }
             /poll\(/ && t == checker { polled = 1 }
             END { exit !polled }' "$work/$case.strace"
    }
    for _ in $(seq "$patience"); do checked && break; sleep 0.05; done
    # Told again until the act: a signal that came before the handler was
    # ignored.
    for _ in $(seq "$patience"); do
        kill -USR1 "$browser"
        grep -q "memory limit exceeded" "$work/$case.log" && break
        sleep 0.1
    done
    grep -q "memory limit exceeded" "$work/$case.log" ||
        fail "$case: no act on the burst (the browser $(process_state "$browser"), $(resident_kib "$browser") KiB resident; reserve $reserve MiB): $(tail -n 5 "$work/$case.strace")"
    # What woke the check that acted: the poll before the limit line's
    # write ended on the tripwire's descriptor (v1, the last eventfd it
    # set a threshold on; v2, memory.events), not on its timeout.
    case $case in
        v1) wire=$(grep -oE 'write\([0-9]+, "[0-9]+ ' "$work/$case.strace" | tail -n 1 | grep -oE '"[0-9]+' | tr -d '"') ;;
        v2) wire=$(sed -n 's/.*openat([0-9]*, "memory.events", .*) = \([0-9]*\)$/\1/p' "$work/$case.strace" | head -n 1) ;;
    esac
    awk '/poll\(/ { last = $0 } /write\(1, "Browser controller: memory limit exceeded/ { print last; exit }' \
        "$work/$case.strace" >"$work/woke"
    grep -qE "\{fd=$wire, revents=POLL(IN|PRI|ERR)" "$work/woke" ||
        fail "$case: the check at the limit was not woken by the tripwire (fd ${wire:-?}): $(cat "$work/woke")"
    echo "tripwire $case: woken at once: $(cat "$work/woke")"
    kill -KILL "$browser"
done
echo "tripwire: passed"
