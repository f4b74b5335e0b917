#!/bin/bash
# The example session on a real X server: it must hand the watchdog the X
# server's own pid, the pid of the browser it started and the reserve it
# chose from the device's figures (or was given, if the watchdog takes it
# and it leaves the browser room); hold the browser until the watchdog's
# first check releases it, and end it when the watchdog fails; aim the OOM
# killer at the browser; end when the browser ends; back off from a
# browser that cannot start; read the total again before each start; end
# the browser and the watchdog with itself; refuse a stale lock file, a
# display on another host or a reserve that leaves no room; end with the X
# server. Every line it writes on stderr is its own, with its prefix.
# Usage: browser_session_test.sh SESSION WATCHDOG_DIR [PART]
# The cases come in parts, each on an X server of its own, so that ctest
# runs them side by side: most of their time is spent waiting for a
# watchdog's checks and for the session's pauses. PART is one of
#   pids               the pids, the refusals, the signals, the lock file
#   reserve-headroom   the reserve chosen on the headroom count's figures
#   reserve-processes  the same on the counts of the processes
#   held               the browser held until its watchdog releases it
#   restarts           the pauses and the total read again between starts
#   tree               a browser that is a tree: frozen and ended as one
# or none: every part, one after another. TREE_BROWSER names the tree's
# stand-in (tests/support/tree_browser.cpp).
set -euo pipefail
session=$1
watchdog_dir=$2
part=${3:-all}
case $part in
    all | pids | reserve-headroom | reserve-processes | held | restarts | tree) ;;
    *) echo "browser_session_test.sh: no part $part" >&2; exit 2 ;;
esac
# shellcheck source=tests/session/session_lib.sh
. "$(dirname "$0")/session_lib.sh"

start_x

# A reserve the count never reaches: what the device has left does not
# fall below what the kernel keeps of it. Refused, with the least that it
# can reach.
expect_refused "a zero reserve" \
    "^browser-session: RESERVE_MIB=0 is below what the count can reach: .*; the least reserve is [0-9]* MiB: not starting the browser$" \
    RESERVE_MIB=000
least=$(sed -n 's/.*the least reserve is \([0-9]*\) MiB.*/\1/p' "$work/session.err")
# The whole run below takes the least itself; the other runs on this
# machine's own figures a reserve above it: what the kernel keeps grows
# with the RAM a hypervisor plugs into the machine while the test runs,
# and a reserve below it is refused.
own_reserve=$((least + 64))

# A /proc of chosen figures for the session, in $work/proc-NAME:
# fake_proc NAME RAM IN_USE SWAP X_RSS X_SWAP [COUNT] (KiB). MemAvailable
# shows a dip the session must not take; beside a first swap area, a
# second of 1 GiB that the counts of the processes never count (none for
# the headroom count, which counts every area); the X server's program
# size is three times its VmRSS. The
# zones' watermarks are the 64 MiB device's, its Normal zone boosted: the
# kernel keeps (102 + 30) + 2 * 85 + (1240 - 1024) + 2 * (1204 - 1024)
# pages of what the device has left, 3512 KiB.
fake_proc() {
    local proc=$work/proc-$1 ram=$2 in_use=$3 swap=$4 x_rss=$5 x_swap=$6 second=1048576
    [ "${7:-}" != headroom ] && [ "$swap" -ne 0 ] || second=0
    mkdir -p "$proc/$x_pid"
    printf 'MemTotal: %s kB\nMemFree: %s kB\nMemAvailable: %s kB\nActive(file): 1000 kB\nInactive(file): 2000 kB\nSwapTotal: %s kB\nSwapFree: %s kB\nKReclaimable: 1000 kB\n' \
        "$ram" "$((ram - in_use - 4000))" "$(((ram - in_use) / 2))" "$((swap + second))" \
        "$((swap + second))" >"$proc/meminfo"
    printf 'Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n' >"$proc/swaps"
    # Named zram-*: the area is compressed swap in RAM.
    local area=/dev/sda2
    case $1 in zram-*) area=/dev/zram0 ;; esac
    [ "$swap" -eq 0 ] || printf '%-40s partition\t%s\t\t0\t\t-2\n' "$area" \
        "$swap" >>"$proc/swaps"
    [ "$second" -eq 0 ] || printf '/swapfile                               file\t\t1048576\t\t0\t\t-3\n' \
        >>"$proc/swaps"
    printf 'Name:\tXvfb\nVmSize:\t%s kB\nVmRSS:\t%s kB\nVmSwap:\t%s kB\n' "$((x_rss * 3))" "$x_rss" "$x_swap" \
        >"$proc/$x_pid/status"
    # The program size in pages, as statm gives it.
    printf '%s 0 0 0 0 0 0\n' "$((x_rss * 3 * 1024 / $(getconf PAGESIZE)))" >"$proc/$x_pid/statm"
    printf '%s\n' 'Node 0, zone      DMA' '  pages free     3591' '        boost    0' \
        '        min      68' '        low      85' '        high     102' '        managed  3680' \
        '        protection: (0, 30, 30)' '              high:  85' 'Node 0, zone   Normal' \
        '  pages free     469' '        boost    1024' '        min      1168' '        low      1204' \
        '        high     1240' '        managed  8693' '        protection: (0, 0, 0)' \
        '              high:  180' >"$proc/zoneinfo"
}

# The reserve the session chooses, on figures read from a /proc of chosen
# files: the count, MemTotal and what is in use, the first swap area, the
# X server's VmRSS and VmSwap (KiB), then the reserve in MiB and the
# limit, or "refused". The rule itself is tests/session/rule_test.cpp's
# table; these rows show the figures read, the reserve said with its words
# (a reserve cut to fit the device, and a browser left less than 16 MiB,
# with what the device lacks) and handed to the watchdog.
# reserve_part headroom|processes
reserve_part() {
    # Under AddressSanitizer the held browser, a fork of the session, has a
    # program size of terabytes (the sanitizer's shadow): no size count then.
    local name count ram in_use swap x_rss x_swap reserve limit base room sanitized=
    readelf -d "$session" 2>/dev/null | grep -q 'libasan' && sanitized=1
    # The rows of counts other than $1 are another part's.
    while read -r name count ram in_use swap x_rss x_swap reserve limit; do
        if [ -n "$sanitized" ] && [ "$count" = size ]; then
            echo "browser session: $name left out under AddressSanitizer"
            continue
        fi
        case $1:$count in
            headroom:headroom | processes:resident | processes:size) ;;
            *) continue ;;
        esac
        fake_proc "$name" "$ram" "$in_use" "$swap" "$x_rss" "$x_swap" "$count"
        case $count in
            headroom) base=$((ram - in_use + swap)) ;;
            resident) base=$((ram + swap - x_rss - x_swap)) ;;
            size) base=$((ram + swap - x_rss * 3)) ;;
        esac
        run_session SESSION_PROC="$work/proc-$name" BROWSER_WATCHDOG_COUNT="$count"
        if [ "$reserve" = refused ]; then
            await_session_end
            [ "$session_status" -eq 1 ] || fail "$name: the session did not fail"
            grep -q "no room for the browser; not starting it unwatched" "$work/session.err" ||
                fail "$name: no refusal on stderr"
            [ ! -s "$work/session.log" ] || fail "$name: a watchdog was started"
            continue
        fi
        await_release
        grep -q "^browser-session: reserve $reserve MiB (RAM+swap $((ram + swap)) KiB: .*): limit $limit KiB; checks on " \
            "$work/session.err" || fail "$name: not a reserve of $reserve MiB and a limit of $limit KiB"
        case $name in
            cut-*) grep -q "the device lacks [0-9]* KiB; reserve cut to $reserve MiB$" "$work/session.err" ||
                fail "$name: the cut is not said" ;;
            *) grep -q "reserve cut" "$work/session.err" && fail "$name: a cut that was not made" ;;
        esac
        room=$((base - reserve * 1024))
        if [ "$room" -lt 16384 ]; then
            grep -q "^browser-session: the browser has $room KiB .*: the device lacks $((16384 - room)) KiB" \
                "$work/session.err" || fail "$name: the browser's small room is not said"
        else
            grep -q "the browser has" "$work/session.err" && fail "$name: a small room that is not"
        fi
        grep -q "memory_diff=$((reserve * 1024))$" "$work/session.log" ||
            fail "$name: the watchdog was not given $reserve MiB"
        kill "$browser_pid"
        await_session_end
    done <<'CASES'
device-64+64  headroom 49492    13760   65532 10700  0     37   77136
no-swap-64    headroom 49492    13760   0     10700  0     17   32084
zram-64+z32   headroom 49492    13760   32768 10700  0     26   55636
cut-64        headroom 49492    25000   0     10700  0     13   36180
small-64      headroom 30000    25000   0     10700  0     refused -
swapped-x     resident 49492    13760   65532 6700   4000  62   51536
size-64+64    size     49492    13760   65532 10700  0     41   73040
CASES
}

pids_part() {
    # The whole run: honest pids, the OOM killer aimed at the browser, and the
    # session ends with the browser.
    run_session RESERVE_MIB="$least" DISPLAY="unix$DISPLAY"
    await_release
    [ "$(pgrep -P "$session_pid" -x sleep)" = "$browser_pid" ] || fail "no browser started"
    grep -q "^Browser controller: x_pid=$x_pid, moz_pid=$browser_pid, .*memory_diff=$((least * 1024))$" \
        "$work/session.log" || fail "the watchdog was not given X server $x_pid and browser $browser_pid"
    [ "$(cat "/proc/$browser_pid/oom_score_adj")" = 1000 ] || fail "the browser's oom_score_adj is not 1000"
    kill "$browser_pid"
    await_session_end
    grep -q 'fatal error (cannot open /proc/.../status), exiting...' "$work/session.log" ||
        fail "the watchdog did not end at its next check"
    grep -q 'not watched' "$work/session.err" && fail "a browser that ended was reported unwatched"

    # The cut table row's figures, for the reserve given below.
    fake_proc cut-64+0 49492 13760 0 10700 0 resident
    # Figures that cannot be read: no guess, no browser. A reserve given is
    # still checked against the total the watchdog counts.
    run_session SESSION_PROC="$work/nowhere"
    await_session_end
    { [ "$session_status" -eq 1 ] && grep -q "set RESERVE_MIB$" "$work/session.err"; } ||
        fail "unreadable figures did not stop the session"
    [ ! -s "$work/session.log" ] || fail "a watchdog was started on unreadable figures"
    run_session SESSION_PROC="$work/proc-cut-64+0" RESERVE_MIB=007
    await_release
    { grep -q "^browser-session: reserve 7 MiB (RESERVE_MIB): limit 42324 KiB; checks on " "$work/session.err" &&
        grep -q "memory_diff=7168$" "$work/session.log"; } || fail "RESERVE_MIB did not win"
    kill "$browser_pid"
    await_session_end

    # A reserve or a count the watchdog would not take: refused before any
    # browser starts.
    for bad in -1 +7 7.5 " 7" 7MiB 0x10 99999999999; do
        expect_refused "RESERVE_MIB='$bad'" "^browser-session: RESERVE_MIB=.*: not starting the browser$" \
            SESSION_PROC="$work/proc-cut-64+0" RESERVE_MIB="$bad"
    done
    # A reserve that leaves the browser less than 10 MiB would stop every
    # browser at its first check: refused, the room said.
    expect_refused "a reserve too large for the X server" \
        "^browser-session: RESERVE_MIB=28 leaves the browser 10120 KiB beside the X server's count of 10700 KiB (it needs 10240 KiB): not starting the browser$" \
        SESSION_PROC="$work/proc-cut-64+0" RESERVE_MIB=28 BROWSER_WATCHDOG_COUNT=resident
    expect_refused "a display on another host" \
        "^browser-session: DISPLAY=elsewhere$DISPLAY is on the host elsewhere: only an X server of this machine can be watched; not starting the browser$" \
        RESERVE_MIB="$own_reserve" DISPLAY="elsewhere$DISPLAY"
    expect_refused "a DECnet display" \
        "^browser-session: DISPLAY=elsewhere:$DISPLAY is a DECnet display: only an X server of this machine can be watched; not starting the browser$" \
        RESERVE_MIB="$own_reserve" DISPLAY="elsewhere:$DISPLAY"
    expect_refused "an unknown count" \
        "^browser-session: BROWSER_WATCHDOG_COUNT=rss is none of headroom, resident and size: not starting the browser$" \
        RESERVE_MIB="$own_reserve" BROWSER_WATCHDOG_COUNT=rss
    expect_refused "an unknown period" \
        "^browser-session: BROWSER_WATCHDOG_PERIOD=3000 is neither adaptive nor fixed: not starting the browser$" \
        RESERVE_MIB="$own_reserve" BROWSER_WATCHDOG_PERIOD=3000
    expect_refused "an unknown dialog" \
        "^browser-session: BROWSER_WATCHDOG_DIALOG=early is neither ready nor plain: not starting the browser$" \
        RESERVE_MIB="$own_reserve" BROWSER_WATCHDOG_DIALOG=early

    # The browser command is split into words, never expanded as a pattern.
    touch "$work/glob-a" "$work/glob-b"
    run_session RESERVE_MIB="$own_reserve" BROWSER="$(command -v touch) $work/glob-*"
    await_session_end
    [ -e "$work/glob-*" ] || fail "\$BROWSER was expanded as a pattern"

    # The display and the reserve read as numbers: leading zeros are a
    # number's (Xlib reads :0NN as display NN), and localhost is this machine.
    run_session RESERVE_MIB="0000000000$own_reserve" DISPLAY=":0${DISPLAY#:}.0"
    await_release
    grep -q "^Browser controller: x_pid=$x_pid, moz_pid=$browser_pid, .*memory_diff=$((own_reserve * 1024))$" \
        "$work/session.log" || fail "leading zeros were not read as numbers"
    kill "$browser_pid"
    await_session_end
    # (Its X server listens on no TCP port: the watchdog here only says that
    # it was started.)
    fake_watchdog started 'exit 3'
    run_session RESERVE_MIB="$own_reserve" DISPLAY="localhost$DISPLAY" PATH="$work/started:$PATH"
    await_session_end
    grep -q "on the host" "$work/session.err" && fail "localhost was taken for another host"
    grep -q "^browser-session: the watchdog ended with status 3 before it released browser" \
        "$work/session.err" || fail "no watchdog on localhost"

    # SIGTERM, SIGHUP or SIGINT to the session alone ends its browser (held or
    # frozen ones too) and its watchdog, then the session, by that signal.
    for sig in TERM HUP INT; do
        run_session SESSION_ONCE=1 RESERVE_MIB="$own_reserve"
        await_release
        watchdog=$(pgrep -f "^browser-watchdog [0-9]+ $browser_pid $own_reserve\$") ||
            fail "SIG$sig: no watchdog"
        [ "$sig" != HUP ] || kill -STOP "$browser_pid"
        kill -"$sig" "$session_pid"
        await_session_end
        [ "$session_status" -eq $((128 + $(kill -l "$sig"))) ] ||
            fail "SIG$sig: the session ended with status $session_status"
        for p in "$browser_pid" "$watchdog"; do
            case $(process_state "$p") in Z | gone) ;; *) fail "SIG$sig: process $p was left behind" ;; esac
        done
        grep -qx "browser-session: SIG$sig: ending the browser and its watchdog" "$work/session.err" ||
            fail "SIG$sig: not said"
        # Its watchdog ended by the session's own end is no failure of it.
        ! grep -q "the watchdog ended" "$work/session.err" ||
            fail "SIG$sig: the watchdog's end was taken for an event: $(cat "$work/session.err")"
    done

    # No watchdog in PATH (an empty directory: an installed package must not
    # count): no browser runs unwatched.
    mkdir "$work/empty"
    expect_refused "a missing watchdog" \
        "^browser-session: no browser-watchdog in PATH ($work/empty): not starting the browser unwatched$" \
        PATH="$work/empty" RESERVE_MIB=7

    # The X server's lock file names a stand-in here. A stale one (its pid
    # gone) stops the session; the X server's end ends the browser and the
    # session. Only root may start an X server without its lock.
    if [ "$(id -u)" -ne 0 ]; then
        echo "browser session: all cases passed but the lock file's (needs root)"
        exit 0
    fi
    # Two swap areas, laid over this machine's own /proc for the session and
    # its watchdog alike: a disk of 64 MiB unused, and zram of 64 MiB, 60,000
    # KiB of it used, ahead of it. The browser has room, and the watchdog's
    # first check finds it so: released, no dialog.
    fake_proc two-areas 49492 13760 0 10700 0 headroom
    printf 'MemTotal: 49492 kB\nMemFree: 31732 kB\nActive(file): 1000 kB\nInactive(file): 2000 kB\nKReclaimable: 1000 kB\nSwapTotal: 131072 kB\nSwapFree: 71072 kB\n' \
        >"$work/proc-two-areas/meminfo"
    printf 'Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n/dev/sda2                               partition\t65536\t\t0\t\t-2\n/dev/zram0                              partition\t65536\t\t60000\t\t100\n' \
        >"$work/proc-two-areas/swaps"
    # No memory pressure information there either (a kernel before 5.2): the
    # watchdog checks on its period alone, and the session says so.
    # shellcheck disable=SC2016 # the inner shell's own arguments
    session_cmd=(unshare -m sh -c 'for f in meminfo swaps zoneinfo; do
        mount --bind "$0/$f" "/proc/$f" || exit 1; done
        [ ! -d /proc/pressure ] || mount -t tmpfs none /proc/pressure || exit 1; exec "$@"' \
        "$work/proc-two-areas" "$session")
    run_session
    await_release
    session_cmd=("$session")
    grep -q "^browser-session: reserve [0-9]* MiB (RAM+swap 180564 KiB: .*; checks on its period alone (no memory pressure trigger: No such file or directory); each browser in " \
        "$work/session.err" || fail "two swap areas: not both counted, or a trigger said where none is"
    # The watchdog prepares its dialog in advance.
    tr '\0' '\n' <"/proc/$(pgrep -P "$session_pid" -x "$(comm_name browser-watchdog)")/environ" |
        grep -qx BROWSER_WATCHDOG_DIALOG=ready || fail "the watchdog was not told to prepare its dialog"
    grep -q "memory limit exceeded" "$work/session.log" && fail "two swap areas: a dialog at the first check"
    kill "$browser_pid"
    await_session_end

    # A kiosk user that owns its X server runs the session unprivileged: the
    # same pids, the browser aimed at by the OOM killer (raising one's own
    # child's oom_score_adj needs no privilege), released by its watchdog.
    kiosk=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    root_x=$x_pid root_display=$DISPLAY
    x_user=("${kiosk[@]}")
    start_x
    x_user=()
    session_cmd=("${kiosk[@]}" "$session")
    run_session RESERVE_MIB="$own_reserve"
    await_release
    session_cmd=("$session")
    [ "$(stat -c %U "/proc/$browser_pid")" = nobody ] || fail "the kiosk's browser is not the kiosk user's"
    grep -q "^Browser controller: x_pid=$x_pid, moz_pid=$browser_pid, " "$work/session.log" ||
        fail "the kiosk's watchdog was not given its X server $x_pid"
    [ "$(cat "/proc/$browser_pid/oom_score_adj")" = 1000 ] || fail "the kiosk's browser's oom_score_adj is not 1000"
    kill "$browser_pid"
    await_session_end
    [ "$session_status" -eq 0 ] || fail "the kiosk's session ended with status $session_status"
    kill "$x_pid"
    wait "$x_pid" 2>/dev/null || true
    x_pid=$root_x DISPLAY=$root_display

    kill "$x_pid"
    wait "$x_pid" 2>/dev/null || true
    start_x_nolock
    lock=/tmp/.X${DISPLAY#:}-lock
    end_test() { rm -f "$lock"; }
    sleep 0 & gone=$!
    wait "$gone"
    printf '%10d\n' "$gone" >"$lock"
    expect_refused "a stale lock file" \
        "^browser-session: $lock names pid $gone, which is not running: a stale lock file; not starting the browser$" \
        RESERVE_MIB="$own_reserve"

    # A pid with leading zeros is that pid.
    sleep 600 & stand_in=$!
    pids+=("$stand_in")
    printf '%010d\n' "$stand_in" >"$lock"
    run_session SESSION_ONCE= RESERVE_MIB="$own_reserve"
    await_release
    grep -q "x_pid=$stand_in" "$work/session.log" || fail "the watchdog was not given the stand-in"
    kill "$stand_in"
    await_session_end
    [ "$session_status" -eq 1 ] || fail "the X server's end ended the session with status $session_status"
    grep -q "^browser-session: the X server $stand_in has ended: ending browser $browser_pid$" \
        "$work/session.err" || fail "no word of the X server's end"
    grep -q "^browser-session: the X server $stand_in has ended: ending the session$" \
        "$work/session.err" || fail "the session's end is not said"
    case $(process_state "$browser_pid") in Z | gone) ;; *) fail "the browser outlived the X server" ;; esac
}

# Waits for the session's held browser, a fork of the session, stopped:
# its pid is held.
await_held() {
    for _ in $(seq "$patience"); do
        held=$(pgrep -P "$session_pid" -x browser-session) &&
            [ "$(process_state "$held")" = T ] && break
        sleep 0.1
    done
    [ "$(process_state "${held:-0}")" = T ] || fail "no browser held"
}

held_part() {
    # The browser is held until the watchdog has read it: a browser that
    # leaves a mark at its first instruction leaves none while its watchdog
    # is kept from starting, and one at once after its release.
    mkfifo "$work/go"
    fake_watchdog slow-start "read -r _ <$work/go; exec \"\$real\" \"\$@\""
    # A continue from anything but its watchdog leaves it held: a lone
    # SIGCONT from outside, or SIGHUP then SIGCONT; its signals are a
    # browser's own, so SIGHUP ends it, never having run.
    for poke in CONT HUP+CONT; do
        rm -f "$work/ran"
        run_session RESERVE_MIB="$own_reserve" BROWSER="$(command -v touch) $work/ran" \
            PATH="$work/slow-start:$PATH"
        await_held
        for sig in ${poke//+/ }; do kill -"$sig" "$held"; done
        for _ in $(seq "$patience"); do
            case $(process_state "$held") in S | Z | gone) break ;; esac
            sleep 0.1
        done
        [ ! -e "$work/ran" ] || fail "$poke: the browser ran before its watchdog's release"
        echo go >"$work/go"
        await_session_end
        if [ "$poke" = CONT ]; then
            if [ ! -e "$work/ran" ] || [ "$session_status" -ne 0 ]; then
                fail "$poke: the watchdog's release did not start the browser"
            fi
        else
            if [ -e "$work/ran" ] || [ "$session_status" -ne 1 ]; then
                fail "$poke: the browser ran, or the session ended with $session_status"
            fi
        fi
    done

    rm -f "$work/ran"
    run_session RESERVE_MIB="$own_reserve" BROWSER="$(command -v touch) $work/ran" PATH="$work/slow-start:$PATH"
    await_held
    [ ! -e "$work/ran" ] || fail "the browser ran before its watchdog started"
    [ "$(cat "/proc/$held/oom_score_adj")" = 1000 ] || fail "the held browser's oom_score_adj is not 1000"
    echo go >"$work/go"
    await_release
    [ "$browser_pid" = "$held" ] || fail "the watchdog released $browser_pid, not the held $held"
    for _ in $(seq "$patience"); do [ -e "$work/ran" ] && break; sleep 0.1; done
    [ -e "$work/ran" ] || fail "the released browser did not run"
    await_session_end
    [ "$session_status" -eq 0 ] || fail "status $session_status after the browser ran once"

    # A watchdog that fails to start never releases its browser: the session
    # says so and ends the browser, which never ran. One that fails once the
    # browser runs has it ended too: nothing would watch it.
    rm -f "$work/ran"
    fake_watchdog no-start 'exit 3'
    run_session RESERVE_MIB="$own_reserve" BROWSER="$(command -v touch) $work/ran" PATH="$work/no-start:$PATH"
    await_session_end
    [ "$session_status" -eq 1 ] || fail "a browser that never ran ended the session with status $session_status"
    grep -q "^browser-session: the watchdog ended with status 3 before it released browser [0-9]*: ending the browser$" \
        "$work/session.err" || fail "no word of a watchdog that did not start"
    [ ! -e "$work/ran" ] || fail "a browser ran without its watchdog"
    # The fake ends once its browser runs (it has become sleep), so that the
    # session has the browser's word of its release by then.
    # shellcheck disable=SC2016 # the fake's own variables
    fake_watchdog lets-go 'kill -CONT "$2"
until [ "$(cat "/proc/$2/comm" 2>/dev/null)" = sleep ]; do sleep 0.05; done
exit 4'
    run_session RESERVE_MIB="$own_reserve" PATH="$work/lets-go:$PATH"
    await_session_end
    grep -q "^browser-session: the watchdog ended with status 4 while browser [0-9]* runs: ending the browser, which nothing watches$" \
        "$work/session.err" || fail "no word of a watchdog that failed while its browser runs"
    pgrep -P "$session_pid" >/dev/null && fail "the unwatched browser was left running"

    # A watchdog that never releases its held browser (one that does not know
    # the held start, and never ends, SIGTERM or not): the browser is ended
    # once the session's bound has passed, and the session says why, and the
    # watchdog too; the browser never ran, and the next one starts.
    rm -f "$work/ran"
    fake_watchdog never-releases 'trap "" TERM; exec sleep 600'
    run_session SESSION_ONCE= RESERVE_MIB="$own_reserve" BROWSER="$(command -v touch) $work/ran" \
        PATH="$work/never-releases:$PATH"
    await_held
    first=$held
    stuck=$(pgrep -P "$session_pid" -x sleep) || fail "no stand-in watchdog"
    await "$work/session.err" "starting it again in" "$patience" || fail "no browser after the bound"
    grep -q "^browser-session: browser $first is still held 30 s after its watchdog started, which has not released it: ending the browser$" \
        "$work/session.err" || fail "a browser held for ever was not ended, or not said"
    case $(process_state "$stuck") in Z | gone) ;; *) fail "the watchdog that never ended was left running" ;; esac
    for _ in $(seq "$patience"); do await_held; [ "$held" != "$first" ] && break; sleep 0.1; done
    [ "$held" != "$first" ] || fail "the next browser did not start"
    [ ! -e "$work/ran" ] || fail "a browser never released ran"
    kill "$session_pid"
    await_session_end
}

restarts_part() {
    # A browser that ends at once is started again after a pause that doubles,
    # however long its watchdog takes to end: the time it ran is its own.
    # shellcheck disable=SC2016 # the fake's own variables
    fake_watchdog slow-end 'kill -CONT "$2"; while kill -0 "$2" 2>/dev/null; do sleep 0.1; done; sleep 3; exit 0'
    run_session SESSION_ONCE= RESERVE_MIB="$own_reserve" BROWSER=false PATH="$work/slow-end:$PATH"
    await "$work/session.err" "starting it again in 4 s" "$patience" ||
        fail "no growing pause for a browser that ends at once"
    grep -q "^browser-session: the browser ended [0-4] s after its start: starting it again in 2 s$" \
        "$work/session.err" || fail "the first pause is not 2 s"
    kill "$session_pid"
    await_session_end

    # A watchdog whose first check finds the limit reached ends the held
    # browser once its dialog is answered, and ends well (status 0): the
    # session says so and waits for memory, the browser never having run.
    rm -f "$work/ran"
    # shellcheck disable=SC2016 # the fake's own variables
    fake_watchdog at-limit 'kill -KILL "$2"; exit 0'
    run_session SESSION_ONCE= RESERVE_MIB="$own_reserve" BROWSER="$(command -v touch) $work/ran" \
        PATH="$work/at-limit:$PATH"
    await "$work/session.err" "starting it again in 2 s" "$patience" || fail "no second start after the limit"
    grep -q "^browser-session: the watchdog found the limit reached before the browser ran: waiting for memory before it starts again$" \
        "$work/session.err" || fail "the limit at the first check is not said"
    [ ! -e "$work/ran" ] || fail "a browser at the limit ran"
    kill "$session_pid"
    await_session_end

    # The total is read again before every start: swap removed between two
    # starts leaves a chosen reserve chosen again for the new total, and a
    # given one that no longer leaves a limit waited out until swap is back.
    fake_proc swapoff 49492 13760 65532 10700 0 headroom
    cp "$work/proc-swapoff/swaps" "$work/swaps-on"
    run_session SESSION_ONCE= SESSION_PROC="$work/proc-swapoff"
    await_release
    head -n 1 "$work/swaps-on" >"$work/proc-swapoff/swaps"
    kill "$browser_pid"
    await "$work/session.err" "limit 32084 KiB" "$patience" || fail "no reserve chosen again without swap"
    grep -q "^browser-session: RAM+swap is now 49492 KiB (was 115024 KiB): choosing the reserve again$" \
        "$work/session.err" || fail "the new total is not said"
    kill "$session_pid"
    await_session_end
    cp "$work/swaps-on" "$work/proc-swapoff/swaps"
    run_session SESSION_ONCE= SESSION_PROC="$work/proc-swapoff" RESERVE_MIB=45
    await_release
    first=$browser_pid
    head -n 1 "$work/swaps-on" >"$work/proc-swapoff/swaps"
    kill "$browser_pid"
    await "$work/session.err" "waiting for memory" "$patience" || fail "a reserve left without a limit was not waited out"
    grep -q "^browser-session: reserve 45 MiB leaves no limit of RAM+swap 49492 KiB (the watchdog needs more than 10240 KiB): waiting for memory before the browser starts$" \
        "$work/session.err" || fail "the wait is not said"
    [ "$(grep -c 'signalling process [0-9]* ([0-9]*)... ok' "$work/session.log")" -eq 1 ] ||
        fail "a browser was started while no limit was left"
    cp "$work/swaps-on" "$work/proc-swapoff/swaps"
    await "$work/session.err" "limit 68944 KiB; starting the browser" "$patience" || fail "the browser did not start again"
    await_release "$patience" 2
    [ "$browser_pid" != "$first" ] || fail "no second browser"
    kill "$session_pid"
    await_session_end
}

# Whether the box the watchdog was told (its BROWSER_WATCHDOG_BOX) holds
# the tree frozen: each cgroup frozen, or the group's process $1 stopped.
box_frozen() {
    local box dir
    box=$(tr '\0' '\n' <"/proc/$watchdog/environ" | sed -n 's/^BROWSER_WATCHDOG_BOX=//p')
    [ -n "$box" ] || return 1
    if [ "$box" = group ]; then
        [ "$(process_state "$1")" = T ]
        return
    fi
    for dir in ${box//:/ }; do
        if [ -e "$dir/cgroup.events" ]; then
            grep -qx 'frozen 1' "$dir/cgroup.events" || return 1
        elif [ -e "$dir/freezer.state" ]; then
            [ "$(cat "$dir/freezer.state")" = FROZEN ] || return 1
        fi
    done
}

# A browser that is a tree (a child of its own, and a handler of SIGTERM in
# each), on the resident count with a limit 100 MiB above what the X server
# holds: it grows 200 MiB at once when told. At the limit the watchdog
# stops the browser and freezes its box, the child with it; the box ends as
# one, whatever ends it, and no handler runs: the session's SIGTERM, or a
# watchdog killed while the browser is frozen, which must not resume it.
tree_part() {
    local reserve end child
    reserve=$((($(ram_and_swap_kib) - $(resident_kib "$x_pid") - 102400) / 1024))
    for end in session-term watchdog-killed; do
        rm -rf "$work/tree"
        mkdir "$work/tree"
        run_session BROWSER_WATCHDOG_COUNT=resident RESERVE_MIB="$reserve" \
            BROWSER="$TREE_BROWSER $work/tree 200"
        await_release
        for _ in $(seq "$patience"); do [ -s "$work/tree/child" ] && break; sleep 0.1; done
        child=$(cat "$work/tree/child") || fail "$end: the tree has no child"
        watchdog=$(pgrep -P "$session_pid" -x "$(comm_name browser-watchdog)") || fail "$end: no watchdog"
        kill -USR1 "$browser_pid"
        await "$work/session.log" "showing confirmation dialog" "$patience" ||
            fail "$end: no act at the limit"
        # Frozen, the browser may take its SIGSTOP only once thawed: its box
        # says it is held, or with a process group, its state.
        for p in "$browser_pid" "$child"; do
            for _ in $(seq "$patience"); do box_frozen "$p" && break; sleep 0.1; done
            box_frozen "$p" || fail "$end: process $p of the tree was not frozen with the browser"
        done
        case $end in
            session-term)
                kill -TERM "$session_pid"
                await_session_end
                [ "$session_status" -eq 143 ] || fail "$end: the session ended with $session_status"
                ! grep -q "the watchdog ended" "$work/session.err" ||
                    fail "$end: the watchdog's end, while the session ends, was taken for an event" ;;
            watchdog-killed)
                kill -KILL "$watchdog"
                await_session_end
                grep -q "^browser-session: the watchdog ended with status 137 and left browser $browser_pid stopped: ending the browser$" \
                    "$work/session.err" || fail "$end: not said" ;;
        esac
        for p in "$browser_pid" "$child"; do
            case $(process_state "$p") in Z | gone) ;; *) fail "$end: process $p of the box was left behind" ;; esac
        done
        ! compgen -G "$work/tree/term-*" >/dev/null ||
            fail "$end: a frozen browser ran its handler: it was resumed"
    done

    # A session in a cgroup v2 delegated to it (systemd's Delegate=yes
    # marks it with trusted.delegate) that holds processes, as a unit's
    # does: it moves them into a leaf of their own, then makes each box
    # beside the leaf, and removes it once the browser has ended.
    local v2
    v2=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/mounts)
    if [ -z "$v2" ] || [ "$(id -u)" -ne 0 ] || ! command -v setfattr >/dev/null; then
        echo "browser session: the delegated cgroup left out (needs root, cgroup v2 and setfattr)"
        return
    fi
    unit=$v2/session-test-$$
    mkdir "$unit"
    end_test() { rmdir "$unit/browser-session" "$unit" 2>/dev/null || true; }
    setfattr -n trusted.delegate -v 1 "$unit"
    # shellcheck disable=SC2016 # the inner shell's own arguments
    session_cmd=(sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$unit" "$session")
    run_session RESERVE_MIB="$own_reserve"
    await_release
    session_cmd=("$session")
    grep -qx "0::${unit#"$v2"}/browser-session" "/proc/$session_pid/cgroup" ||
        fail "delegated: the session is not in its leaf: $(cat "/proc/$session_pid/cgroup")"
    grep -qx "0::${unit#"$v2"}/browser-$browser_pid" "/proc/$browser_pid/cgroup" ||
        fail "delegated: the browser is not in its box beside the leaf: $(cat "/proc/$browser_pid/cgroup")"
    grep -q "; each browser in a box of cgroup v2 (freeze" "$work/session.err" ||
        fail "delegated: not said"
    kill "$browser_pid"
    await_session_end
    [ ! -e "$unit/browser-$browser_pid" ] || fail "delegated: the box outlived its browser"
}

case $part in
    tree) tree_part ;;
    reserve-headroom) reserve_part headroom ;;
    reserve-processes) reserve_part processes ;;
    held) held_part ;;
    restarts) restarts_part ;;
    pids) pids_part ;;
    all)
        reserve_part headroom
        reserve_part processes
        held_part
        restarts_part
        tree_part
        # Last: it ends with X servers of its own.
        pids_part
        ;;
esac
echo "browser session ($part): all cases passed"
