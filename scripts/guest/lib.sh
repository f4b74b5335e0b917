# shellcheck shell=dash
# Helpers of the scripts that run inside the emulated device (busybox sh),
# after the initramfs has mounted /dev, /proc, /sys and /tmp.
exec </dev/console >/dev/console 2>&1
# The shell and the small tools, for the guest's scripts and for programs
# that run them (the X server runs xkbcomp through /bin/sh).
/bin/busybox --install -s /usr/bin 2>/dev/null
# The loopback interface: the browser reaches its page servers through it.
ifconfig lo 127.0.0.1 up
export PATH=/opt/watchdog:/usr/bin:/usr/sbin:/bin HOME=/root
# The facts read off /proc, the same as the host's scripts read them.
# shellcheck source=scripts/proc.sh
. /opt/watchdog/proc.sh

uptime_s() { cut -d" " -f1 /proc/uptime; }
say() { echo "guest: [$(uptime_s)] $*"; }
end() { sync; reboot -f; sleep 10; }
# A script may define on_fail to add what it knows before the guest ends.
fail() {
    say "FAILED: $*"
    command -v on_fail >/dev/null && on_fail
    end
}
# Waits at most $3 tenths of a second for process $1 to be in state $2.
await_state() {
    for _ in $(seq "$3"); do [ "$(process_state "$1")" = "$2" ] && return 0; usleep 100000; done
    return 1
}
# Waits at most $2 tenths of a second for the text $1 in the file $3
# (default: the watchdog's log, /tmp/w.log).
await_log() {
    for _ in $(seq "$2"); do grep -qF -- "$1" "${3:-/tmp/w.log}" && return 0; usleep 100000; done
    return 1
}
# Whether process $1 has ended (a zombie has).
ended() {
    case $(process_state "$1") in Z | gone) return 0 ;; esac
    return 1
}
# Waits at most $2 tenths of a second for process $1 to end.
await_ended() {
    for _ in $(seq "$2"); do ended "$1" && return 0; usleep 100000; done
    return 1
}
# The same for a child of this shell, then reaps it: its status is rc.
await_end() {
    await_ended "$1" "$2"
    # shellcheck disable=SC2034 # read by the script that sourced this file
    wait "$1" && rc=0 || rc=$?
}
# The pid of a browser named $1 that session $2 started after browser $3,
# if any.
browser_again() {
    local again
    again=$(pids_named "$1" "$2")
    [ -n "$again" ] && [ "$again" != "$3" ] && echo "$again"
    return 0
}
# The watchdog that watches browser $1 (its second argument), if any.
watchdog_of() {
    local w
    for w in $(pids_named browser-watchdog); do
        [ "$(process_argument "$w" 2)" = "$1" ] && echo "$w" && return 0
    done
    return 0
}
# The browser of session $1 other than $2, whatever it is called: the
# process one of the session's watchdogs watches (its second argument),
# once it has become the browser (no longer the session's held fork).
session_browser() {
    local w b
    for w in $(pids_named browser-watchdog "$1"); do
        b=$(process_argument "$w" 2)
        { [ -n "$b" ] && [ "$b" != "${2:-}" ]; } || continue
        case $(process_name "$b") in "" | "$(comm_name browser-session)") ;; *) echo "$b"; return 0 ;; esac
    done
    return 0
}
# The processes of the tree of process $1, itself first, one a line.
tree_pids() {
    local p
    echo "$1"
    for p in $(process_children "$1"); do tree_pids "$p"; done
}
# shellcheck disable=SC2034 # read by the script that sourced this file
page_kib=$(awk '/^KernelPageSize:/ { print $2; exit }' /proc/self/smaps)

# Starts Xvfb on :0 (it writes /tmp/.X0-lock, as a device's server does);
# its pid is x_pid.
start_x() {
    Xvfb :0 -extension GLX -nolisten tcp -screen 0 800x600x16 >/tmp/xvfb.log 2>&1 &
    # shellcheck disable=SC2034 # read by the script that sourced this file
    x_pid=$!
    export DISPLAY=:0
    for _ in $(seq 300); do [ -S /tmp/.X11-unix/X0 ] && break; usleep 100000; done
    [ -S /tmp/.X11-unix/X0 ] || { cat /tmp/xvfb.log; fail "Xvfb did not start"; }
}

# Answers the dialog of watchdog $1 with Return, as a user with a keyboard
# would, until the watchdog has ended (a key pressed while the dialog is
# still taking the input may go elsewhere). With $2, first waits three
# seconds, as a person reads, and runs the command $2 (a capture of the
# screen).
answer() {
    # Not in a command substitution: busybox's timeout leaves a watcher
    # holding the output open until the time is up.
    timeout 60 xdotool search --sync --onlyvisible --name '^Error$' >/tmp/windows
    win=$(head -n 1 /tmp/windows)
    [ -n "$win" ] || { say "no window titled Error"; return 1; }
    if [ -n "${2:-}" ]; then
        sleep 3
        "$2" || say "no capture of the dialog"
    fi
    for _ in $(seq 10); do
        timeout 5 xdotool windowfocus "$win" key Return >/dev/null 2>&1 || true
        await_ended "$1" 20 && return 0
    done
    say "the dialog was not answered"
    return 1
}
