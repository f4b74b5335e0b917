#!/bin/bash
# The device trial's host side. Bad settings are refused at once, before a
# ten-minute run is built. The figures, from chosen guest results: who acted
# first on the browser (and only on it, and only before the arm ended), the
# OOM killer beside the guardians, recovery from the browser's exit, every
# series cut to the arm's window, "-" for what was never sampled, the
# sampler's own gaps, and no line at all for an arm that failed, never
# finished or whose trace lost events. The capacity line from a ladder, a
# silent guest booted again, and the dialog's capture in bands.
# Usage: device_test.sh BENCH_DIR [TOOLS_DIR]
#   TOOLS_DIR holds band-capture, capture-png, screenshot and standin-grower
set -euo pipefail
summary=$1/device-summary
tools=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# The guest's results around the browser 150 started at 7 s: one arm in
# $work/NAME, its trace lines and kernel log lines on stdin, split by "--".
results() {
    local d=$work/$1
    mkdir -p "$d"
    printf '%s\n' arm=reserve=40 page=big device=64+64 browser_name=dillo package=1.4.0 rest_x_rss=10000 rest_avail=35000 \
        browser_pid=150 browser_start_ms=7000 end=browser-ended end_ms=60000 x_alive=yes \
        done=1 >"$d/events"
    echo 'Browser controller: x_pid=120, moz_pid=150, total_memory=115024, memory_diff=40960' \
        >"$d/watchdog.log"
    # ms MemAvailable SwapFree X-VmRSS; the first and the last two lie outside
    # the arm.
    printf '%s\n' '6000 35000 65000 10000' '8000 30000 60000 5000' '20000 10000 20000 600' \
        '28000 15000 25000 3000' '29500 12000 30000 2500' '30200 20000 40000 2000' '30400 32000 40000 2500' '65000 34000 0 9000' \
        '70000 1000 0 100' >"$d/memory"
    # Gaps and round trips that ended at MS; only their part in the window
    # counts (7.5 s: 500 ms of it; 61 s: 1000 ms; 70 s: none).
    printf '%s\n' '7500 1000' '9000 105' '20000 640' '61000 2000' '70000 3000' >"$d/heartbeat"
    printf '%s\n' '9000 12' '21000 880' '70000 2508' >"$d/x-rtt"
    printf '%s\n' '[   25.1] ata1.00: exception Emask 0x0 SAct 0x0 SErr 0x0 action 0x6 frozen' \
        '[   80.3] ata1.00: exception Emask 0x0 SAct 0x0 SErr 0x0 action 0x6 frozen' >"$d/dmesg"
    local part=trace line
    echo '# entries-in-buffer/entries-written: 4/4   #P:1' >"$d/trace"
    while IFS= read -r line; do
        [ "$line" = -- ] && { part=dmesg; continue; }
        echo "$line" >>"$d/$part"
    done
}
signal() {  # signal SENDER SECONDS SIG PID [TARGET_COMM [SENDER_PID]]
    printf '%24s-%d [000] d..2. %12s: signal_generate: sig=%d errno=0 code=0 comm=%s pid=%d grp=1 res=0\n' \
        "$1" "${6:-99}" "$2" "$3" "${5:-dillo}" "$4"
}
browser_exit() {  # browser_exit SECONDS [PID]
    printf '%24s [000] ..... %12s: sched_process_exit: comm=dillo pid=%d prio=120\n' \
        "dillo-${2:-150}" "$1" "${2:-150}"
}
task_exit() {  # task_exit SECONDS PID
    printf '%24s [000] ..... %12s: sched_process_exit: comm=Web pid=%d prio=120\n' "Web-$2" "$1" "$2"
}
newtask() {  # newtask FORKER_COMM FORKER_PID SECONDS PID CLONE_FLAGS
    printf '%24s [000] ..... %12s: task_newtask: pid=%d comm=%s clone_flags=%s oom_score_adj=1000\n' \
        "$1-$2" "$3" "$4" "$1" "$5"
}
victim() {  # victim SECONDS PID
    printf '%24s [000] ..... %12s: mark_victim: pid=%d\n' Xvfb-120 "$1" "$2"
}
stop_taken() {  # stop_taken SECONDS TID: task TID took a SIGSTOP
    printf '%24s [000] d..1. %12s: signal_deliver: sig=23 errno=0 code=0 sa_handler=0 sa_flags=0\n' \
        "Web-$2" "$1"
}
cgroup_frozen() {  # cgroup_frozen SECONDS PATH
    printf '%24s [000] ..... %12s: cgroup_notify_frozen: root=0 id=5 level=1 path=%s val=1\n' \
        kworker/0:1-12 "$1" "$2"
}
program() {  # program SECONDS PID FILENAME: the run of another program
    printf '%24s [000] ..... %12s: sched_process_exec: filename=%s pid=%d old_pid=%d\n' \
        "<...>-$2" "$1" "$3" "$2" "$2"
}
browser_exec() {  # browser_exec SECONDS PID
    printf '%24s [000] ..... %12s: sched_process_exec: filename=/usr/bin/dillo pid=%d old_pid=%d\n' \
        "dillo-$2" "$1" "$2" "$2"
}
# check NAME EXPECTED: the line holds every field of EXPECTED.
check() {
    local line field
    line=$("$summary" "$work/$1") || { echo "FAIL $1: no line"; failures=$((failures + 1)); return; }
    for field in $2; do
        [[ " $line " == *" $field "* ]] && continue
        echo "FAIL $1: no '$field' in: $line"
        failures=$((failures + 1))
    done
}
common="oom_kills=0 x_alive=yes x_rss_min_pct=6 x_rtt_max_ms=880 heartbeat_max_ms=1000 headroom_min_mib=29 emulator_stalls=1 device=64+64 reserve_mib=40 end=browser-ended sample_gap_max_ms=12000"

# The browser's own child ending (SIGCHLD, 18) is no action; the watchdog's
# SIGSTOP is, and the browser's exit at 30 s starts the recovery clock.
# In hand at the act: the last sample before it; through the dialog: from
# the act to the browser's exit; past the limit: the limit line's count
# less RAM plus swap less the reserve.
{ signal dillo 9.500000 18 150; signal browser-watchdo 29.000000 23 150; browser_exit 30.000000; } |
    results watchdog
echo 'Browser controller: memory limit exceeded, memory=74564 (X=10000, durezezur=64564)' \
    >>"$work/watchdog/watchdog.log"
check watchdog "browser=dillo package=1.4.0 acted_s=22.0 stopped_by=watchdog headroom_at_act_mib=39 headroom_dialog_min_mib=41 past_limit_kib=500 recovered_s=0.4 restarted=- $common"

{ signal earlyoom 28.500000 15 150; browser_exit 30.000000; } | results earlyoom
check earlyoom "acted_s=21.5 stopped_by=earlyoom headroom_at_act_mib=39 past_limit_kib=- recovered_s=0.4"

# The OOM killer picked the browser before the watchdog's check came.
{ printf '%24s [000] ..... %12s: mark_victim: pid=150\n' Xvfb-120 27.000000
  signal browser-watchdo 29.000000 23 150; browser_exit 30.000000
  echo --; echo '[   27.0] Out of memory: Killed process 150 (dillo)'; } | results oom
check oom "acted_s=20.0 stopped_by=oom-killer oom_kills=1 headroom_at_act_mib=29"

# Nobody acted: the trial's own SIGKILL after the arm's end is not counted,
# nor an OOM victim after it, and an exit after the end starts no recovery.
{ signal sh 61.000000 9 150; browser_exit 61.000000
  printf '%24s [000] ..... %12s: mark_victim: pid=150\n' Xvfb-120 62.000000; } | results nobody
check nobody "acted_s=- stopped_by=none headroom_at_act_mib=- headroom_dialog_min_mib=- past_limit_kib=- recovered_s=- $common"

# Memory that never came back within the arm to 90% of the baseline taken
# with the guardian running and no browser.
{ signal earlyoom 28.500000 15 150; browser_exit 30.000000; } | results never
# earlyoom's arm ran nothing of the package the image holds.
sed -i 's/^rest_avail=.*/rest_avail=40000/; s/^arm=.*/arm=earlyoom/' "$work/never/events"
check never "package=- stopped_by=earlyoom recovered_s=never"

# What was never sampled is "-", never 0 or a made-up figure; kernel and
# earlyoom arms ran with no reserve.
results empty </dev/null
: >"$work/empty/heartbeat"
rm "$work/empty/x-rtt" "$work/empty/watchdog.log"
sed -i -e '/^rest_x_rss=/d' -e 's/^arm=.*/arm=kernel/' "$work/empty/events"
check empty "heartbeat_max_ms=- x_rtt_max_ms=- x_rss_min_pct=- reserve_mib=-"

# A signal to another process is not an action on the browser.
signal browser-watchdo 29.000000 23 151 | results other-pid
check other-pid "acted_s=- stopped_by=none recovered_s=-"

# The browser's tree, whatever its processes are called: the browser, a
# process it forked (151), that one's thread (152) and a process the thread
# forked (153), each a member from its making to its end. A signal or the
# OOM killer's pick of any of them is an action on the browser; a pid
# reused after its process ended is not of the tree, nor is a process
# another one forked. A sender is known by its pid where the trace saw it
# run, as the trace may name it from a cache of names long overrun. Of the
# tree, the processes (not threads)
# that had not ended 2 s after the browser's exit are left behind.
while IFS='|' read -r name events expected; do
    { newtask dillo 150 8.000000 151 1200011; newtask Web 151 8.100000 152 3d0f00
      newtask Web-Thread 152 8.200000 153 1200011; newtask Xvfb 120 8.300000 160 1200011
      newtask sh 99 6.000000 170 1200011
      for e in $events; do ${e//,/ }; done; } | results "$name"
    check "$name" "$expected"
done <<'TREES'
child-signalled|signal,earlyoom,28.500000,9,151,Web|acted_s=21.5 stopped_by=earlyoom
grandchild-picked|victim,27.000000,153 signal,browser-watchdo,29.000000,23,150|acted_s=20.0 stopped_by=oom-killer oom_kills=1
thread-signalled|signal,browser-watchdo,29.000000,23,152,Web|acted_s=22.0 stopped_by=watchdog
reused|task_exit,20.000000,151 signal,earlyoom,28.500000,9,151,Web|acted_s=- stopped_by=none
outsider|signal,earlyoom,28.500000,9,160,Web signal,earlyoom,28.600000,9,170,dillo|acted_s=- stopped_by=none
left|browser_exit,30.000000 task_exit,31.000000,151 task_exit,33.000000,153|left_behind=1 recovered_s=0.4
all-gone|browser_exit,30.000000 task_exit,30.500000,151 task_exit,31.900000,153|left_behind=0
running|task_exit,20.000000,153|left_behind=-
evicted|program,7.500000,99,/usr/bin/browser-watchdog signal,<...>,29.000000,23,150|stopped_by=watchdog browsers=0
misnamed|program,7.500000,98,/usr/sbin/earlyoom signal,browser-watchdo,28.000000,9,151,Web,98|acted_s=21.0 stopped_by=earlyoom
TREES

# The session's box, from the words its reserve line ends with, and how
# long after the watchdog's SIGSTOP to the browser (at 29 s) the box was
# frozen: on v2 the kernel's event for the box's own directory, after the
# act (or the watch on cgroup.events where the kernel has no such event);
# on the v1 freezer its watch; for a process group the last of the tree's
# processes (a thread's SIGSTOP is its process's) to take its SIGSTOP, or
# to end. Left behind: what the box's cgroups listed 2 s after the end.
v2="a box of cgroup v2 (freeze, kill, memory)"
while IFS='|' read -r name words notes events frozen expected; do
    { newtask dillo 150 8.000000 151 1200011; newtask Web 151 8.100000 152 3d0f00
      signal browser-watchdo 29.000000 23 150
      for e in $events; do ${e//,/ }; done; } | results "$name"
    sed -i 's/^arm=.*/arm=session/' "$work/$name/events"
    [ -z "$notes" ] || tr ' ' '\n' <<<"$notes" >>"$work/$name/events"
    echo "browser-session: reserve 37 MiB (RAM+swap 115024 KiB: a quarter 28756, the kernel's own 3512, margin 1024 KiB): limit 77136 KiB; checks on memory pressure too; each browser in $words" \
        >"$work/$name/session.err"
    [ -z "$frozen" ] || tr ' ,' '\n ' <<<"$frozen" >"$work/$name/frozen"
    check "$name" "$expected"
done <<BOXES
v2-event|$v2|cgroup_frozen_trace=yes box_name=/sys/fs/cgroup/browser-150|cgroup_frozen,28.000000,/browser-150 cgroup_frozen,29.010000,/browser-99 cgroup_frozen,29.012000,/browser-150||box=v2:freeze,kill,memory frozen_tree_ms=12
v2-watched|$v2|cgroup_frozen_trace=no box_name=/sys/fs/cgroup/browser-150||10000,frozen 29030,frozen|frozen_tree_ms=30
v2-never|$v2|cgroup_frozen_trace=yes box_name=/sys/fs/cgroup/browser-150|cgroup_frozen,29.010000,/browser-99||frozen_tree_ms=never
v2-v1|a box of cgroup v2 (freeze, kill) and v1 memory|cgroup_frozen_trace=yes box_name=/sys/fs/cgroup/browser-150:/sys/fs/cgroup/memory/browser-150|cgroup_frozen,29.007000,/browser-150||box=v2:freeze,kill+v1:memory frozen_tree_ms=7
v1|a box of v1 memory and freezer|cgroup_frozen_trace=yes box_name=/sys/fs/cgroup/memory/browser-150:/sys/fs/cgroup/freezer/browser-150|cgroup_frozen,29.001000,/browser-150|29000,freezing 29045,frozen|box=v1:memory,freezer frozen_tree_ms=45
v1-freezer|a box of v1 freezer|||29002,frozen|box=v1:freezer frozen_tree_ms=2
v2-unfrozen|a box of cgroup v2 (no freeze)|cgroup_frozen_trace=yes|stop_taken,29.004000,150 stop_taken,29.020000,152||box=v2:no-freeze frozen_tree_ms=20
group|a process group (no cgroup: none mounted)||stop_taken,29.004000,150 stop_taken,29.020000,152||box=group frozen_tree_ms=20
group-escaped|a process group (no cgroup: none mounted)||stop_taken,29.004000,150||frozen_tree_ms=never
group-ended|a process group (no cgroup: none mounted)||stop_taken,29.004000,150 task_exit,29.050000,151||frozen_tree_ms=50
box-left|$v2|box_left=2 box_name=/sys/fs/cgroup/browser-150|browser_exit,30.000000||left_behind=2
BOXES
# Without the watchdog's SIGSTOP, or without a box, nothing was frozen.
{ signal earlyoom 28.500000 15 150; browser_exit 30.000000; } | results no-stop
cp "$work/group/session.err" "$work/no-stop/"
sed -i 's/^arm=.*/arm=session/' "$work/no-stop/events"
check no-stop "box=group frozen_tree_ms=- left_behind=0"
check watchdog "box=- frozen_tree_ms=-"
# The stand-in is named with its growth.
results grower </dev/null
sed -i 's/^browser_name=.*/browser_name=standin-grower/' "$work/grower/events"
echo grower=burst >>"$work/grower/events"
check grower "browser=standin-grower:burst"

# An arm that failed, or whose guest never finished, gives no line.
results failed </dev/null
echo failed=1 >>"$work/failed/events"
results unfinished </dev/null
sed -i '/^done=1$/d' "$work/unfinished/events"
# A trace whose ring buffer overwrote events cannot say who acted first.
signal browser-watchdo 29.000000 23 150 | results overflow
sed -i '1s|.*|# entries-in-buffer/entries-written: 10/12   #P:1|' "$work/overflow/trace"
if ! err=$("$summary" "$work/overflow" 2>&1 >/dev/null) && [[ $err == *"lost 2 events"* ]]; then
    :
else
    echo "FAIL overflow: a trace that lost events gave a line or no reason: $err"
    failures=$((failures + 1))
fi
# Results that do not name their browser cannot say what was done to it.
signal browser-watchdo 29.000000 23 150 | results nameless
sed -i '/^browser_name=/d' "$work/nameless/events"
if err=$("$summary" "$work/nameless" 2>&1 >/dev/null) || [[ $err != *"no browser_name"* ]]; then
    echo "FAIL nameless: results with no browser gave a line or no reason: $err"
    failures=$((failures + 1))
fi
for name in failed unfinished overflow nameless; do
    if out=$("$summary" "$work/$name" 2>/dev/null) || [ -n "$out" ]; then
        echo "FAIL $name: gave '$out'"
        failures=$((failures + 1))
    fi
done

# The capacity of each arm on each device, from a ladder of its lines: a page
# the display took over a second to show has not loaded.
capacity=$("$summary" --capacity <<'LINES'
device: arm=kernel page=fit stopped_by=none oom_kills=0 x_alive=yes x_rtt_max_ms=40 device=64+64 end=settled
device: arm=kernel page=rows=12000 stopped_by=none oom_kills=0 x_alive=yes x_rtt_max_ms=900 device=64+64 end=settled
device: arm=kernel page=rows=20000 stopped_by=none oom_kills=0 x_alive=yes x_rtt_max_ms=1500 device=64+64 end=settled
device: arm=kernel page=big stopped_by=oom-killer oom_kills=1 x_alive=yes x_rtt_max_ms=2500 device=64+64 end=browser-ended
device: arm=session page=fit stopped_by=none oom_kills=0 x_alive=yes x_rtt_max_ms=30 device=64+64 end=settled
device: arm=session page=rows=12000 stopped_by=watchdog oom_kills=0 x_alive=yes x_rtt_max_ms=30 device=64+64 end=browser-ended
device: arm=session page=big stopped_by=watchdog oom_kills=0 x_alive=yes x_rtt_max_ms=30 device=64+64 end=browser-ended
device: arm=session page=fit stopped_by=watchdog oom_kills=0 x_alive=yes x_rtt_max_ms=30 device=64+0 end=browser-ended
LINES
)
expected="device: capacity device=64+64 arm=kernel rows_loaded_max=12000 rows_stopped_min=110000
device: capacity device=64+64 arm=session rows_loaded_max=6000 rows_stopped_min=12000
device: capacity device=64+0 arm=session rows_loaded_max=- rows_stopped_min=6000"
if [ "$capacity" != "$expected" ]; then
    echo "FAIL capacity: got"$'\n'"$capacity"
    failures=$((failures + 1))
fi

# The picture of one device and page: the session's arm, whose probe fell
# 2.2 s behind and once could not read meminfo, the kernel's, where nobody
# acted, and earlyoom's, which acted past the middle of the time axis. A
# gap is drawn as missing, never as zero, only an arm that acted is
# marked, and a label past the middle ends at its line, inside the plot.
if command -v gnuplot >/dev/null; then
    signal browser-watchdo 29.000000 23 150 | results plot/session
    printf '%s\n' '8000 30000 60000 5000' '8250 29000 60000 5000' '10450 20000 40000 4000' \
        '10700 -1 40000 4000' '10950 18000 39000 4000' '11200 17000 38000 4000' >"$work/plot/session/memory"
    results plot/kernel </dev/null
    signal earlyoom 50.000000 15 150 | results plot/earlyoom
    for arm in session kernel earlyoom; do
        sed -i "s/^arm=.*/arm=$arm/" "$work/plot/$arm/events"
        printf 'MemTotal: 49492 kB\nSwapTotal: 65532 kB\n' >"$work/plot/$arm/meminfo-rest"
    done
    plot=$(bash "$1/device-plot" "$work/plot" 2>&1) || true
    dat=$work/plot/plot-64+64-big
    if [ "$plot" != "$work/plot/plot-64+64-big.png" ] ||
        [ "$(head -c 8 "$dat.png" | od -An -tx1 | tr -d ' ')" != 89504e470d0a1a0a ]; then
        echo "FAIL plot: no picture: $plot"
        failures=$((failures + 1))
    fi
    # Headroom in MiB from the browser's start, the line broken at the gap
    # and at the sample it could not read; none drawn as zero.
    expected=$(printf '%s\n' '1.000 87.89' '1.250 86.91' '' '3.450 58.59' '' '3.950 55.66' '4.200 53.71')
    if [ "$(cat "$dat/headroom-session.dat" 2>/dev/null)" != "$expected" ]; then
        echo "FAIL plot: the session's headroom is drawn from:"$'\n'"$(cat "$dat/headroom-session.dat")"
        failures=$((failures + 1))
    fi
    marks=$(grep -c '^set arrow' "$dat/plot.gp" 2>/dev/null || true)
    # The level at the act: the last sample before it, 55000 KiB.
    if [ "$marks" != 2 ] || ! grep -q "^set label 'watchdog, 22.0 s, 53 MiB in hand' at 22.0, .* left " "$dat/plot.gp" ||
        ! grep -q "^set label 'earlyoom, 43.0 s, 70 MiB in hand' at 43.0, .* right " "$dat/plot.gp" ||
        ! grep -q "^set label '' at 22.0, 53 point" "$dat/plot.gp" ||
        ! grep -q "rtt-kernel.dat' using 1:2 with lines" "$dat/plot.gp"; then
        echo "FAIL plot: $marks marks, or not the watchdog's at 22.0 s and 53 MiB starting there," \
            "earlyoom's at 43.0 s ending there, or no kernel arm:"
        cat "$dat/plot.gp"
        failures=$((failures + 1))
    fi
else
    echo "device trial: the picture not checked (no gnuplot)"
fi

# The session's browsers, each held until its own watchdog released it
# (SIGCONT, 25 on MIPS, to the session's fork that is to become dillo,
# named as the session is): how long the
# first was held, how many ran, how many ran before a release, how many
# were stopped by the watchdog that released them, the pauses the session
# said and the gaps from one browser's exit to the next one's run.
{ signal browser-watchdo 8.000000 25 150 browser-session 99; browser_exec 8.200000 150
  signal browser-watchdo 29.000000 23 150 dillo 99; browser_exit 30.000000
  signal browser-watchdo 33.000000 25 160 browser-session 120; browser_exec 33.100000 160
  signal browser-watchdo 50.000000 23 160 dillo 120; browser_exit 51.000000 160; } | results kiosk
sed -i 's/^arm=.*/arm=kiosk/' "$work/kiosk/events"
echo 'browser-session: the browser ended 4 s after its start: starting it again in 2 s' \
    >"$work/kiosk/session.err"
check kiosk "acted_s=22.0 stopped_by=watchdog held_ms=1200 browsers=2 ran_unreleased=0 own_watchdog_stops=2 pauses_said_s=2 restart_gaps_s=3.1"
# A browser that ran before any release, stopped by another's watchdog.
{ signal browser-watchdo 8.000000 25 150 browser-session 99; browser_exec 8.200000 150
  signal browser-watchdo 29.000000 23 150 dillo 99; browser_exit 30.000000
  browser_exec 33.100000 160; signal browser-watchdo 33.500000 25 160 browser-session 120
  signal browser-watchdo 50.000000 23 160 dillo 99; } | results loose
sed -i 's/^arm=.*/arm=session/' "$work/loose/events"
check loose "browsers=2 ran_unreleased=1 own_watchdog_stops=1 pauses_said_s=- restart_gaps_s=3.1"
# A SIGCONT to a process of another name is no release: a shell's, as a
# session written in shell held its browser, is not the session's fork.
{ signal browser-watchdo 8.000000 25 150 browser-session 99; browser_exec 8.200000 150
  signal browser-watchdo 29.000000 23 150 dillo 99; browser_exit 30.000000
  signal browser-watchdo 33.000000 25 160 sh 120; browser_exec 33.100000 160
  signal browser-watchdo 50.000000 23 160 dillo 120; browser_exit 51.000000 160; } | results built
sed -i 's/^arm=.*/arm=session/' "$work/built/events"
check built "held_ms=1200 browsers=2 ran_unreleased=1 own_watchdog_stops=1"

# The headroom without the boost of the zones' watermarks, where the probe
# gave it: a dip of MemAvailable that was the boost's alone is not in it.
results unboosted </dev/null
printf '%s\n' '8000 30000 60000 5000 31000 0' '8250 20000 60000 5000 30500 4096' \
    '8500 29000 60000 5000 -1 -1' >"$work/unboosted/memory"
check unboosted "headroom_min_mib=78 headroom_unboosted_min_mib=88"
check watchdog "headroom_unboosted_min_mib=-"

# A device with two swap areas, the disk's and zram's: its headroom is
# every area's SwapFree, as meminfo gives it, and its capacity is its own.
results twoareas </dev/null
sed -i 's/^device=.*/device=64+32+z32/' "$work/twoareas/events"
printf '%s
' '8000 30000 60000 5000' '9000 4000 1024 5000' >"$work/twoareas/memory"
check twoareas "device=64+32+z32 headroom_min_mib=4"
capacity=$(printf '%s
' \
    "device: arm=kernel page=fit stopped_by=none oom_kills=0 x_alive=yes x_rtt_max_ms=40 device=64+32+z32 end=settled" \
    "device: arm=kernel page=fit stopped_by=none oom_kills=0 x_alive=yes x_rtt_max_ms=40 device=64+32 end=settled" |
    "$summary" --capacity | awk '{ print $3 }' | tr '\n' ' ')
if [ "$capacity" != "device=64+32+z32 device=64+32 " ]; then
    echo "FAIL capacity of two areas: devices $capacity"
    failures=$((failures + 1))
fi

# A device shape's parts as the trial boots it: RAM, the swap disk and
# zram, in MiB.
while read -r shape expected; do
    got=$(cd "$1/.." && bash -c '. scripts/common.sh; . scripts/guest/image.sh
        echo "$(shape_ram_mib "$1") $(shape_disk_mib "$1") $(shape_zram_mib "$1")"' _ "$shape")
    [ "$got" = "$expected" ] && continue
    echo "FAIL shape $shape: RAM, disk and zram $got, not $expected"
    failures=$((failures + 1))
done <<'SHAPES'
64+64 64 64 0
48+0 48 0 0
64+z32 64 0 32
64+32+z32 64 32 32
128+256+z48 128 256 48
SHAPES

# Shapes the trial takes: it goes on to the arms, which these runs get
# wrong on purpose.
for devices in 64+32+z32 64+z32 128+128 1024+4096+z4096 all; do
    status=0
    out=$(DEVICES=$devices ARMS=none bash "$1/device" 2>&1 >/dev/null) || status=$?
    if [ "$status" -ne 1 ] || [[ $out != *"unknown arm 'none'"* ]]; then
        echo "FAIL DEVICES=$devices: status $status, said: $out"
        failures=$((failures + 1))
    fi
done

# Settings the trial refuses, with the word it says (';' between two).
while read -r setting expected; do
    status=0
    IFS=';' read -r -a vars <<<"$setting"
    out=$(env "${vars[@]}" bash "$1/device" 2>&1 >/dev/null) || status=$?
    if [ "$status" -ne 1 ] || [[ $out != *"$expected"* ]]; then
        echo "FAIL $setting: status $status, said: $out"
        failures=$((failures + 1))
    fi
done <<'SETTINGS'
ARMS=kernel,earlyoom unknown arm 'kernel,earlyoom'
ARMS=reserve=x unknown arm 'reserve=x'
ARMS=resident=-1 unknown arm 'resident=-1'
PAGES=huge unknown page 'huge'
PAGES=rows=0 unknown page 'rows=0'
DEVICES=32+32 unknown device '32+32'
DEVICES=64 unknown device '64'
DEVICES=64+x32 unknown device '64+x32'
DEVICES=64+z32+32 unknown device '64+z32+32'
DEVICES=64+32+z unknown device '64+32+z'
DEVICES=64+32+32 unknown device '64+32+32'
DEVICES=64+32+z32+z32 unknown device '64+32+z32+z32'
DEVICES=64+0+z32 unknown device '64+0+z32'
DEVICES=64+32+z0 unknown device '64+32+z0'
DEVICES=64+32+z5000 unknown device '64+32+z5000'
DEVICES=64+5000+z32 unknown device '64+5000+z32'
DEVICES=32+32+z32 unknown device '32+32+z32'
ARMS=headroom= unknown arm 'headroom='
PAGE=/nonexistent/page.html cannot read the page /nonexistent/page.html
BROWSER=/usr/bin/dillo unknown browser '/usr/bin/dillo'
CGROUPS=v3 unknown cgroups 'v3'
CGROUPS=V2 unknown cgroups 'V2'
BROWSER=standin-grower;GROWER=fast unknown growth 'fast'
GROWER=tree GROWER=tree is the stand-in's
TIME_LIMIT_S=59 unknown time limit '59'
TIME_LIMIT_S=3601 unknown time limit '3601'
TIME_LIMIT_S=1e3 unknown time limit '1e3'
SETTINGS

# A trial refuses to start beside another in the same tree, with status 75
# and the other's lock named. Were the lock not taken, it would go on only
# to the packages it cannot install here.
mkdir -p "$work/nopkg" "$1/../build-mipsel"
for tool in dpkg-query apt-get; do printf '#!/bin/sh\nexit 1\n' >"$work/nopkg/$tool"; done
chmod +x "$work/nopkg/"*
exec {held}>>"$1/../build-mipsel/device-trial.lock"
if flock -n "$held"; then
    status=0
    out=$(PATH="$work/nopkg:$PATH" DEVICES=64+64 ARMS=kernel PAGES=fit IDLE=0 bash "$1/device" 2>&1 >/dev/null) ||
        status=$?
    if [ "$status" -ne 75 ] || [[ $out != *"another device trial runs"*"device-trial.lock"* ]]; then
        echo "FAIL beside another trial: status $status, said: $out"
        failures=$((failures + 1))
    fi
else
    echo "device trial: the lock not checked (a trial runs in this tree)"
fi
exec {held}>&-

# A guest that prints nothing, or fails while it boots (a kernel panic, an
# initramfs it could not unpack: that early the kernel hangs), is booted
# again, not waited out: here an emulator that does each in turn on its
# first two boots (the second's way of failing given), and boots on its
# third.
mkdir -p "$work/bin"
cat >"$work/bin/qemu-system-mipsel" <<'FAKE'
#!/bin/bash
while [ $# -gt 0 ]; do [ "$1" = -pidfile ] && echo $$ >"$2"; shift; done
boots=$(($(cat "$FAKE_BOOTS" 2>/dev/null || echo 0) + 1))
echo "$boots" >"$FAKE_BOOTS"
[ "$boots" -ge 3 ] && { echo "guest: [1.00] booted"; exit 0; }
[ "$boots" -eq 2 ] && echo "$FAKE_FAILURE"
exec sleep 600
FAKE
chmod +x "$work/bin/qemu-system-mipsel"
for failure in "Kernel panic - not syncing: Incorrect memory mapping !!!" \
    "Initramfs unpacking failed: write error"; do
    rm -f "$work/boots"
    boot_out=$(cd "$1/.." && PATH="$work/bin:$PATH" FAKE_BOOTS="$work/boots" \
        FAKE_FAILURE="$failure" bash -c '
        . scripts/common.sh; . scripts/guest/image.sh
        guest_dir=$1; guest_swap_mib=0 vmlinuz=none GUEST_SILENCE_S=1
        touch "$guest_dir/root.img" "$guest_dir/swap-0.img"
        guest_boot silent 64 60 >/dev/null 2>&1 && cat "$guest_dir/silent.console"' _ "$work") || true
    if [ "$boot_out" != "guest: [1.00] booted" ] || [ "$(cat "$work/boots")" != 3 ]; then
        echo "FAIL silent boot, then '$failure': $(cat "$work/boots" 2>/dev/null) boots, console '$boot_out'"
        failures=$((failures + 1))
    fi
done

# The /proc facts the trial reads on the host and in the guest
# (scripts/proc.sh), under every shell at hand that runs them: a process
# whose name holds a space and ")" and is longer than the kernel keeps,
# stopped, found by its name among this shell's children only, its
# argument and environment read, a parent's one child found, then gone.
proc_lib=$1/../scripts/proc.sh
name="x) y-a-very-long-name"
ln -s "$(command -v sleep)" "$work/$name"
TRIAL_MARK=a=b "$work/$name" 600 &
named=$!
# A parent whose one child is known: the tree's walk from it.
sh -c 'sleep 600 & echo $! >"$1"; wait' _ "$work/child" &
parent=$!
for _ in $(seq 100); do [ -s "$work/child" ] && break; sleep 0.1; done
child=$(cat "$work/child")
# Stopped once it runs under its name, not while it is still this shell's fork.
for _ in $(seq 100); do
    [ "$(ps -o comm= -p "$named")" = "${name:0:15}" ] && break
    sleep 0.1
done
kill -STOP "$named"
for _ in $(seq 100); do
    [ "$(ps -o stat= -p "$named" | cut -c1)" = T ] && break
    sleep 0.1
done
# RAM as free(1) gives it, and the first swap area as swapon(8) lists them.
first_swap=$(PATH=$PATH:/sbin:/usr/sbin swapon --show=SIZE --bytes --noheadings | head -n1)
ram_swap=$(($(free -k | awk '$1 == "Mem:" { print $2 }') + ${first_swap:-0} / 1024))
# Every swap area, as swapon(8) lists them: name, KiB and priority.
areas=$(PATH=$PATH:/sbin:/usr/sbin swapon --show=NAME,SIZE,PRIO --bytes --noheadings --raw |
    awk '{ printf "%s %d %s\n", $1, $2 / 1024, $3 }')
# Its program size as ps(1) gives it, counted twice in one sum; a process
# that has gone has no size, and holds "-", never 0.
size=$(($(ps -o vsz= -p "$named") * 2))
gone=$((1 << 22 | 1))
for sh in bash dash "busybox sh"; do
    command -v "${sh%% *}" >/dev/null || { echo "device trial: /proc facts not checked under $sh"; continue; }
    # shellcheck disable=SC2016 # the inner shell expands its own arguments
    # Nothing on its input: a fact must not read it.
    fact() { $sh -c '. "$1"; shift; "$@"' _ "$proc_lib" "$@" 2>&1 </dev/null; }
    for got in "process_state $named = T" "pids_named '$name' $$ = $named" \
        "pids_named '$name' 1 = " "comm_name browser-watchdog = browser-watchdo" \
        "ram_and_swap_kib = $ram_swap" "size_kib $named $named = $size" "size_kib $named $gone = " \
        "resident_kib $gone = -" "wakeups $gone = " "size_kib = " "process_name $named = ${name:0:15}" \
        "process_name $gone = " "process_argument $named 1 = 600" "process_argument $named 2 = " \
        "process_env $named TRIAL_MARK = a=b" "process_env $named TRIAL = " "process_children $parent = $child" \
        "process_children $child = " "cgroup_pids $work = "; do
        eval "set -- ${got% = *}"
        [ "$(fact "$@")" = "${got##* = }" ] && continue
        echo "FAIL $sh: $* gives '$(fact "$@")', not '${got##* = }'"
        failures=$((failures + 1))
    done
    [ "$(fact swap_areas)" = "$areas" ] ||
        { echo "FAIL $sh: swap_areas gives '$(fact swap_areas)', not '$areas'"; failures=$((failures + 1)); }
done
# Reaped: bash's word of the kill goes with the wait's errors.
{ kill -9 "$named" "$child" "$parent"; wait "$named" "$parent"; } 2>/dev/null || true
for sh in bash dash "busybox sh"; do
    command -v "${sh%% *}" >/dev/null || continue
    [ "$(fact process_state "$named")" = gone ] || { echo "FAIL $sh: process $named is not gone"; failures=$((failures + 1)); }
done

# The capture's PNG from pixels of each kind band-capture writes, every
# colour widened by repeating its bits: "BPP ORDER MASKS | PIXELS | RGB",
# four pixels a row.
while IFS='|' read -r format pixels expected; do
    read -r bpp order red green blue <<<"$format"
    { printf 'band-capture 4 1 %s %s %s %s %s\n' "$bpp" "$order" "$red" "$green" "$blue"
      printf '%b' "$(tr -d ' ' <<<"$pixels" | sed 's/../\\x&/g')"; } >"$work/known.capture"
    rm -f "$work/known.png"
    "$tools/capture-png" "$work/known.capture" "$work/known.png" 2>/dev/null || true
    # The PNG's pixels, after the 24 bytes of the pixdata's header.
    rm -f "$work/known.pixdata"
    gdk-pixbuf-pixdata "$work/known.png" "$work/known.pixdata" 2>/dev/null || true
    got=$(tail -c +25 "$work/known.pixdata" 2>/dev/null | od -An -tx1 | tr -d ' \n' || true)
    [ "$got" = "$(tr -d ' ' <<<"$expected")" ] && continue
    echo "FAIL capture-png of $format: $pixels gives '$got', not $expected"
    failures=$((failures + 1))
done <<'PIXELS'
16 lsb f800 7e0 1f | 00f8 1f00 e007 ffff | ff0000 0000ff 00ff00 ffffff
16 lsb f800 7e0 1f | 4108 1084 0000 2000 | 080808 848284 000000 000400
16 msb f800 7e0 1f | f800 0841 8410 001f | ff0000 080808 848284 0000ff
24 msb ff0000 ff00 ff | 112233 445566 000000 ffffff | 112233 445566 000000 ffffff
32 lsb ff0000 ff00 ff | 33221100 66554400 00000000 ffffffff | 112233 445566 000000 ffffff
32 msb ff0000 ff00 ff | 00112233 00445566 00000000 00ffffff | 112233 445566 000000 ffffff
PIXELS
# A capture shorter or longer than its header says is refused.
for bytes in 7 9; do
    { printf 'band-capture 4 1 16 lsb f800 7e0 1f\n'; head -c "$bytes" /dev/zero; } >"$work/known.capture"
    if "$tools/capture-png" "$work/known.capture" "$work/known.png" 2>/dev/null; then
        echo "FAIL capture-png made a PNG of 4 pixels of 16 bits from $bytes bytes"
        failures=$((failures + 1))
    fi
done

# The screen as the device has it (800x600, 16 bits) and as a PC has it (24
# bits, 32 a pixel), read in bands of the default height, of 7 rows (the
# last band shorter) and of the whole screen: made a PNG, each gives the
# toolkit's screenshot pixel for pixel, and the capture says its peak.
capture_screen() {  # capture_screen SCREEN
    local xvfb grower shot=$work/shot.pixdata rows display=
    Xvfb -displayfd 1 -nolisten tcp -screen 0 "$1" >"$work/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do display=$(cat "$work/display") && [ -n "$display" ] && break; sleep 0.1; done
    export DISPLAY=:$display
    STANDIN_GROWER_MIB_PER_S=1 "$2/standin-grower" 2>/dev/null &
    grower=$!
    # A window and its text, held still: the grower stopped, and the screen
    # read until two screenshots in a row agree.
    timeout 30 xdotool search --sync --onlyvisible --name standin-grower >/dev/null
    kill -STOP "$grower"
    for _ in $(seq 20); do
        "$2/screenshot" "$work/shot.png" && gdk-pixbuf-pixdata "$work/shot.png" "$work/next.pixdata" &&
            cmp -s "$work/next.pixdata" "$shot" && break
        mv "$work/next.pixdata" "$shot"
    done
    for rows in '' 7 100000; do
        peak=$("$2/band-capture" "$work/screen.capture" $rows) &&
            "$2/capture-png" "$work/screen.capture" "$work/screen.png" &&
            gdk-pixbuf-pixdata "$work/screen.png" "$work/screen.pixdata" &&
            cmp -s "$work/screen.pixdata" "$shot" && [[ $peak =~ ^capture_hwm_kib=[1-9][0-9]*\ capture_rss_kib=[1-9][0-9]*$ ]] &&
            continue
        echo "FAIL band-capture of $1 in bands of ${rows:-default} rows: not the screenshot's pixels, or peak '$peak'"
        failures=$((failures + 1))
        rm -f "$work/screen.pixdata"
    done
    kill -9 "$grower"
    kill "$xvfb"
    wait "$grower" "$xvfb" 2>/dev/null || true
}
if [ -n "$tools" ] && command -v Xvfb >/dev/null; then
    capture_screen 800x600x16 "$tools"
    capture_screen 1024x768x24 "$tools"
else
    echo "device trial: the capture of the screen not checked (no TOOLS_DIR or no Xvfb)"
fi

# The stand-in's growth, once its window shows, at 1 MiB a second: steady,
# a tenth of it so far; burst, 32 MiB at once; tree, in a child, the
# process started holding little and ending as its child did. A growth it
# does not know is refused.
grower_modes() {  # grower_modes TOOLS_DIR
    local xvfb display='' mode top grower rss status
    Xvfb -displayfd 1 -nolisten tcp -screen 0 640x480x16 >"$work/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do display=$(cat "$work/display") && [ -n "$display" ] && break; sleep 0.1; done
    for mode in steady burst tree; do
        DISPLAY=:$display STANDIN_GROWER_MODE=$mode STANDIN_GROWER_MIB_PER_S=1 "$1/standin-grower" &
        top=$!
        DISPLAY=:$display timeout 30 xdotool search --sync --onlyvisible --name standin-grower >/dev/null
        grower=$top
        [ "$mode" != tree ] || grower=$(cat /proc/"$top"/task/*/children | tr -d " \n")
        rss=$(awk '$1 == "VmRSS:" { print $2 }' "/proc/$grower/status" 2>/dev/null)
        kill -9 "$grower"
        status=0
        wait "$top" 2>/dev/null || status=$?
        # Its window gone, before the next one is looked for.
        for _ in $(seq 100); do
            DISPLAY=:$display xdotool search --onlyvisible --name standin-grower >/dev/null || break
            sleep 0.1
        done
        case $mode in
            steady) [ "${rss:-0}" -gt 0 ] && [ "$rss" -lt 32768 ] ;;
            burst) [ "${rss:-0}" -ge 32768 ] ;;
            tree) [ -n "$grower" ] && [ "$grower" != "$top" ] && [ "${rss:-0}" -gt 0 ] ;;
        esac && [ "$status" -eq 137 ] && continue
        echo "FAIL standin-grower $mode: VmRSS ${rss:-none} KiB in the grower (${grower:-none} of $top), status $status"
        failures=$((failures + 1))
    done
    kill "$xvfb"
    wait "$xvfb" 2>/dev/null || true
    if STANDIN_GROWER_MODE=fast "$1/standin-grower" 2>/dev/null; then
        echo "FAIL standin-grower ran with STANDIN_GROWER_MODE=fast"
        failures=$((failures + 1))
    fi
}
if [ -n "$tools" ] && command -v Xvfb >/dev/null; then
    grower_modes "$tools"
else
    echo "device trial: the stand-in's growth not checked (no TOOLS_DIR or no Xvfb)"
fi

# The watch on a box's freezer under each freezer this host has (as root):
# a sleeping process's cgroup frozen, then thawed, each change printed as
# the cgroup says it, on the boot clock, at or after the write.
freeze_watch_check() {  # freeze_watch_check TOOLS_DIR
    local kind dir file freeze thaw box sleeper watcher before states
    while read -r kind dir file freeze thaw; do
        box=$dir/device-test-$$
        if ! mkdir "$box" 2>/dev/null; then
            echo "device trial: freeze-watch not checked on $kind (no cgroup made in $dir)"
            continue
        fi
        sleep 600 &
        sleeper=$!
        echo "$sleeper" >"$box/cgroup.procs"
        "$1/freeze-watch" "$box/$file" >"$work/frozen" &
        watcher=$!
        await_states thawed >/dev/null
        before=$(awk '{ printf "%d", $1 * 1000 }' /proc/uptime)
        echo "${freeze#*:}" >"$box/${freeze%%:*}"
        await_states thawed frozen >/dev/null
        echo "${thaw#*:}" >"$box/${thaw%%:*}"
        states=$(await_states thawed frozen thawed)
        if [ "$states" != "thawed frozen thawed" ] ||
            ! awk -v t="$before" '$2 == "frozen" && $1 >= t { ok = 1 } END { exit !ok }' "$work/frozen"; then
            echo "FAIL freeze-watch on $kind: saw '$states', from $before ms: $(tr '\n' ' ' <"$work/frozen")"
            failures=$((failures + 1))
        fi
        kill "$watcher" "$sleeper"
        wait "$watcher" "$sleeper" 2>/dev/null || true
        rmdir "$box"
    done <<'FREEZERS'
v1 /sys/fs/cgroup/freezer freezer.state freezer.state:FROZEN freezer.state:THAWED
v2 /sys/fs/cgroup/unified cgroup.events cgroup.freeze:1 cgroup.freeze:0
FREEZERS
}
# Waits at most 10 s until the watch has said the states given (freezing
# aside), and prints those it said.
await_states() {
    local said
    for _ in $(seq 100); do
        said=$(awk '$2 != "freezing" { print $2 }' "$work/frozen" | tr '\n' ' ')
        [ "$said" = "$* " ] && break
        sleep 0.1
    done
    echo "${said% }"
}
if [ -n "$tools" ] && [ "$(id -u)" -eq 0 ]; then
    freeze_watch_check "$tools"
else
    echo "device trial: freeze-watch not checked (no TOOLS_DIR, or not root)"
fi

[ "$failures" -eq 0 ] || exit 1
echo "device trial: all cases passed"
