#!/bin/bash
# The session's settings file on a real X server: each variable taken from
# it, the environment before it, the shipped file read with every setting
# off, a line or a file that cannot be read refused by number with status
# 1 and no browser; the start page given to the browser; and, asked for,
# every line of the session and of its watchdog one message of the system
# log (a busybox syslogd in a mount namespace of its own, as root).
# Usage: settings_test.sh SESSION WATCHDOG_DIR
set -euo pipefail
session=$1
watchdog_dir=$2
# shellcheck source=tests/session/session_lib.sh
. "$(dirname "$0")/session_lib.sh"
shipped=$(dirname "$0")/../../package/browser-session.default

start_x
settings=$work/settings
# settings LINE...: the file, a line each.
settings() { printf '%s\n' "$@" >"$settings"; }

# Refusals, one row each: what, the file's lines (| between them), the
# pattern of the refusal, the environment. Each proves the file was read
# (or not) down to that line; BROWSER= and SESSION_ONCE= leave the file
# the browser where it names one.
while IFS='|' read -r what lines pattern env; do
    [ -n "$what" ] || continue
    IFS=';' read -ra file_lines <<<"$lines"
    # \r in a line of a row is a carriage return.
    settings "${file_lines[@]//\\r/$'\r'}"
    read -ra env_words <<<"$env"
    expect_refused "$what" "$pattern" SESSION_SETTINGS="$settings" "${env_words[@]}"
done <<EOF_ROWS
a reserve from the file|# a comment;  ;RESERVE_MIB=999999|: RESERVE_MIB=999999 .*not starting the browser$|
the environment's reserve first|RESERVE_MIB=999999|RESERVE_MIB=0 is below what the count can reach|RESERVE_MIB=000
an empty variable left to the file|RESERVE_MIB=999999|RESERVE_MIB=999999 |RESERVE_MIB=
the browser from the file|BROWSER=no-such-browser --x|BROWSER=no-such-browser --x: no command no-such-browser in PATH|BROWSER=
the count from the file|BROWSER_WATCHDOG_COUNT=bytes|BROWSER_WATCHDOG_COUNT=bytes is none of headroom, resident and size|
the period from the file|BROWSER_WATCHDOG_PERIOD=often|BROWSER_WATCHDOG_PERIOD=often is neither adaptive nor fixed|
the dialog from the file|BROWSER_WATCHDOG_DIALOG=fancy|BROWSER_WATCHDOG_DIALOG=fancy is neither ready nor plain|
the log from the file|SESSION_LOG=journal|SESSION_LOG=journal is neither stdout nor syslog|
the proc from the environment only|RESERVE_MIB=8;SESSION_PROC=/nowhere|settings, line 2: SESSION_PROC is taken from the environment only: not starting the browser$|
a file with DOS line ends|# made elsewhere\r;BROWSER=sleep 600\r|settings, line 2: it holds a carriage return (the file has DOS line ends?): not starting the browser$|BROWSER=
the path from the file|PATH=/nowhere|no browser-watchdog in PATH (/nowhere): not starting|PATH=
a quoted value|# the browser;BROWSER="sleep 600"|settings, line 2: its value holds a quote or a backslash, and values are taken as they stand: not starting the browser$|BROWSER=
a misspelt name|RESERV_MIB=8|settings, line 1: RESERV_MIB is not a setting of browser-session: not starting the browser$|
not NAME=VALUE|SESSION_ONCE=1;;sleep 600|settings, line 3: it is not NAME=VALUE: not starting the browser$|
a bad line after a good one|BROWSER=no-such-browser;RESERVE_MIB 8|settings, line 2: it is not NAME=VALUE|BROWSER=
EOF_ROWS

expect_refused "a file that cannot be read" \
    "^browser-session: cannot read $work: Is a directory: not starting the browser$" \
    SESSION_SETTINGS="$work"
# A FIFO laid where a file is read would hold the session in open(), its
# signals blocked: refused at once, whoever writes to it.
mkfifo "$work/fifo"
expect_refused "a FIFO as the settings file" \
    "^browser-session: cannot read $work/fifo: it is not a regular file: not starting the browser$" \
    SESSION_SETTINGS="$work/fifo"
for n in $(seq 230 260); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
done
fifo_lock=/tmp/.X$n-lock
end_test() { rm -f "$fifo_lock"; }
mkfifo "$fifo_lock"
expect_refused "a FIFO as the X server's lock file" \
    "^browser-session: /tmp/.X$n-lock is not a regular file: cannot tell the X server's pid$" \
    DISPLAY=":$n" RESERVE_MIB=7
rm -f "$fifo_lock"

# The shipped file: every setting it names is one the session reads.
# Uncommented with empty values, it is read to its end.
[ -r "$shipped" ] || fail "no shipped settings file at $shipped"
sed -n 's/^#\([A-Z_]*\)=.*/\1=/p' "$shipped" >"$settings"
echo RESERVE_MIB=999999 >>"$settings"
expect_refused "the shipped names, empty" "RESERVE_MIB=999999 " SESSION_SETTINGS="$settings"

# A browser from the file, its start page as its last argument, one
# browser (SESSION_ONCE); the watchdog's settings from the file, but for
# the one the environment gives.
settings 'BROWSER=sleep 600' START_PAGE=7 SESSION_ONCE=yes BROWSER_WATCHDOG_DIALOG=plain \
    BROWSER_WATCHDOG_PERIOD=fixed
run_session SESSION_SETTINGS="$settings" BROWSER= SESSION_ONCE= BROWSER_WATCHDOG_PERIOD=adaptive
await_release "$patience"
[ "$(tr '\0' ' ' <"/proc/$browser_pid/cmdline")" = "sleep 600 7 " ] ||
    fail "the browser runs as '$(tr '\0' ' ' <"/proc/$browser_pid/cmdline")', not 'sleep 600 7'"
watchdog_pid=$(pgrep -P "$session_pid" -f "^browser-watchdog ")
environ=$(tr '\0' '\n' <"/proc/$watchdog_pid/environ")
grep -qx BROWSER_WATCHDOG_DIALOG=plain <<<"$environ" || fail "the file's dialog was not taken"
grep -qx BROWSER_WATCHDOG_PERIOD=adaptive <<<"$environ" || fail "the file's period came first"
kill "$browser_pid"
await_session_end
[ "$session_status" -eq 0 ] || fail "one browser from the file: the session ended with $session_status"

if [ "$(id -u)" -ne 0 ]; then
    echo "settings: the system log case needs root: skipped"
    exit 0
fi
# The session and its watchdogs in a mount namespace whose /dev is the
# real one's entries and the socket of a busybox syslogd writing to
# $work/syslog.
cat >"$work/with-syslog" <<'EOF_NS'
#!/bin/sh
set -e
dev=$1 log=$2
shift 2
mount -t tmpfs tmpfs "$dev"
for e in /dev/*; do
    n=${e#/dev/}
    if [ -L "$e" ]; then cp -P "$e" "$dev/$n"
    elif [ -d "$e" ]; then mkdir "$dev/$n" && mount --rbind "$e" "$dev/$n"
    else : >"$dev/$n" && mount --bind "$e" "$dev/$n"; fi
done
mount --rbind "$dev" /dev
busybox syslogd -n -O "$log" &
echo $! >"$log.pid"
while [ ! -S /dev/log ]; do kill -0 "$(cat "$log.pid")" || exit 1; sleep 0.1; done
exec "$@"
EOF_NS
chmod +x "$work/with-syslog"
mkdir "$work/dev"
: >"$work/syslog"
session_cmd=(unshare -m "$work/with-syslog" "$work/dev" "$work/syslog" "$session")
settings SESSION_LOG=syslog
# A watchdog that says something on its standard error first.
# shellcheck disable=SC2016 # the fake's own variables
fake_watchdog noisy 'echo "a line on standard error" >&2; exec "$real" "$@"'
run_session SESSION_SETTINGS="$settings" PATH="$work/noisy:$PATH"
await "$work/syslog" ' browser-watchdog: Browser controller: signalling process ' "$patience" ||
    fail "no watchdog line in the system log: $(cat "$work/syslog")"
browser_pid=$(sed -n 's/.* browser-watchdog: Browser controller: signalling process \([0-9]*\) .*/\1/p' \
    "$work/syslog" | head -n1)
# The forwarder killed: said, started again, and the watchdog's next line
# (its fatal line once its browser is gone) still reaches the log, where
# without a reader it would have died of SIGPIPE.
forwarder=$(pgrep -P "$session_pid" -x browser-session) || fail "no forwarder"
kill -KILL "$forwarder"
await "$work/syslog" " browser-session: the forwarder of the watchdog's lines ended with status 137: started again$" \
    "$patience" || fail "the forwarder's end was not said: $(cat "$work/syslog")"
kill "$browser_pid"
await_session_end
kill "$(cat "$work/syslog.pid")"
messages=$(sed -n 's/.* browser-watchdog: //p' "$work/syslog")
grep -q "^Browser controller: x_pid=$x_pid, moz_pid=$browser_pid, " <<<"$messages" ||
    fail "the watchdog's first line is not a message: $(cat "$work/syslog")"
grep -q "^Browser controller: fatal error (cannot open /proc/.../status), exiting...$" \
    <<<"$messages" || fail "a line after the forwarder's end was lost: $(cat "$work/syslog")"
grep -qx "a line on standard error" <<<"$messages" || fail "the watchdog's standard error is not in the log"
# A whole line a message: each begins the watchdog's way, none holds two.
! grep -v '^Browser controller: \|^a line on standard error$' <<<"$messages" ||
    fail "a watchdog line split or merged"
! grep 'Browser controller: .*Browser controller: ' <<<"$messages" || fail "two lines in one message"
grep -q " browser-session: reserve [0-9]* MiB " "$work/syslog" || fail "no session line in the system log"
if [ -s "$work/session.log" ] || [ -s "$work/session.err" ]; then
    fail "lines went to the standard output or error as well"
fi
echo "settings: passed"
