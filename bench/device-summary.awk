# The line of one arm of the device trial (bench/device-summary DIR runs
# it): the guest's notes (events) first, then its trace, probe samples,
# kernel log, the watchdog's log, the session's errors and the watch on
# the box's freezer, each a file named as the guest names it. -v watchdog,
# -v session_comm: the watchdog's and the session's names as the kernel
# keeps them. The browser is its pid (browser_pid), and its tree what the
# trace saw it and its processes fork.
function get(k) { return (k in ev) ? ev[k] : "" }
# The value of NAME=VALUE in a trace event's fields, or "".
function field_of(name,   i) {
    for (i = NF; i > 0; i--) if (index($i, name "=") == 1) return substr($i, length(name) + 2)
    return ""
}
# The trace's events in the order of their times (a trace of several CPUs
# comes merged so): the kind and its index among its own.
function order(kind, i, t,   n) {
    for (n = ++nev; n > 1 && ev_t[n - 1] > t; n--) {
        ev_kind[n] = ev_kind[n - 1]; ev_i[n] = ev_i[n - 1]; ev_t[n] = ev_t[n - 1]
    }
    ev_kind[n] = kind; ev_i[n] = i; ev_t[n] = t
}
function num(s) { return s + 0 }
function inside(t) { return t >= b0 && t <= end_t }
# The part of the span (t - d, t] that lies in the window.
function overlap(t, d,   s, e) {
    s = t - d; if (s < b0) s = b0
    e = t; if (e > end_t) e = end_t
    return e - s
}
FILENAME ~ /events$/ {
    i = index($0, "="); ev[substr($0, 1, i - 1)] = substr($0, i + 1)
    b0 = num(get("browser_start_ms")); end_t = num(get("end_ms"))
    if (end_t == 0) end_t = 1e15
    next
}
FILENAME ~ /trace$/ {
    if ($0 ~ /^#/) next
    ts = ""
    for (f = 1; f <= NF; f++) if ($f ~ /^[0-9]+\.[0-9]+:$/) { ts = $f; break }
    if (ts == "") next
    t = int(substr(ts, 1, length(ts) - 1) * 1000)
    # The task the event is of (the sender, the forker, the one that
    # takes a signal or ends), as the trace names it: comm-pid.
    task = $0; sub(/ +\[[0-9]+\].*/, "", task); sub(/^ +/, "", task)
    match(task, /-[0-9]+$/); task_pid = substr(task, RSTART + 1); task_comm = substr(task, 1, RSTART - 1)
    pid = field_of("pid")
    if ($0 ~ /signal_generate:/) {
        # The target: a process of the tree, or the session's fork that is
        # to become the browser, named as the session is.
        nsig++; sig_t[nsig] = t; sig_pid[nsig] = pid; sig_from[nsig] = task_comm; sig_sender[nsig] = task_pid
        sig_comm[nsig] = field_of("comm"); sig_no[nsig] = field_of("sig")
        order("s", nsig, t)
    } else if ($0 ~ /signal_deliver:/) {
        ndeliver++; deliver_tid[ndeliver] = task_pid; order("d", ndeliver, t)
    } else if ($0 ~ /task_newtask:/) {
        # A thread (CLONE_THREAD, 0x10000, in the flags' hex) or a process.
        flags = field_of("clone_flags")
        digit = length(flags) >= 5 ? substr(flags, length(flags) - 4, 1) : "0"
        nnew++; new_pid[nnew] = pid; new_parent[nnew] = task_pid
        new_thread[nnew] = (index("0123456789abcdef", tolower(digit)) - 1) % 2
        order("n", nnew, t)
    } else if ($0 ~ /sched_process_exec:/) {
        # The run of a watchdog or earlyoom names its pid; any other, the
        # browser's command.
        program = field_of("filename"); sub(/.*\//, "", program)
        if (program == "browser-watchdog") program_of[pid] = watchdog
        else if (program == "earlyoom") program_of[pid] = "earlyoom"
        else { nexec++; exec_t[nexec] = t; exec_pid[nexec] = pid }
    } else if ($0 ~ /sched_process_exit:/) {
        nexit++; exit_t[nexit] = t; exit_pid[nexit] = pid; order("x", nexit, t)
    } else if ($0 ~ /mark_victim:/) {
        nvictim++; victim_t[nvictim] = t; victim_pid[nvictim] = pid; order("v", nvictim, t)
    } else if ($0 ~ /cgroup_notify_frozen:/) {
        nfrozen++; frozen_path[nfrozen] = field_of("path"); order("f", nfrozen, t)
    }
    next
}
FILENAME ~ /frozen$/ {
    if ($2 == "frozen") { nwatched++; watched_t[nwatched] = $1 }
    next
}
FILENAME ~ /memory$/ {
    nmem++; mem_t[nmem] = $1; mem_avail[nmem] = $2; mem_swap[nmem] = $3; mem_x[nmem] = $4
    mem_unboosted[nmem] = NF >= 5 ? $5 : -1
    next
}
FILENAME ~ /heartbeat$/ {
    if (overlap($1, $2) > 0) { o = overlap($1, $2); if (!seen_beat || o > beat) beat = o; seen_beat = 1 }
    next
}
FILENAME ~ /x-rtt$/ {
    if (overlap($1, $2) > 0) { o = overlap($1, $2); if (!seen_rtt || o > rtt) rtt = o; seen_rtt = 1 }
    next
}
FILENAME ~ /dmesg$/ {
    if (!match($0, /^\[ *[0-9]+\.[0-9]+\]/)) next
    t = substr($0, 2, RLENGTH - 2) * 1000
    if (!inside(t)) next
    if ($0 ~ /ata[0-9.]+: exception Emask/ || $0 ~ /rcu.*detected stall/) stalls++
    next
}
FILENAME ~ /session\.err$/ {
    if (box == "" && match($0, /; each browser in .*/)) box = box_of(substr($0, RSTART + 18))
    if (match($0, /starting it again in [0-9]+ s$/))
        pauses = pauses (pauses == "" ? "" : ",") substr($0, RSTART + 21, RLENGTH - 23)
    next
}
FILENAME ~ /watchdog\.log$/ {
    if (reserve == "" && match($0, /memory_diff=[0-9]+/))
        reserve = int(substr($0, RSTART + 12, RLENGTH - 12) / 1024)
    # Its limit, from the start-up line of the watchdog that acted first:
    # RAM plus swap less the reserve.
    if (match($0, /total_memory=[0-9]+, memory_diff=[0-9]+$/)) {
        split(substr($0, RSTART, RLENGTH), started, /[=,]/)
        limit = started[2] - started[4]
    }
    if (past == "" && limit != "" && match($0, /memory limit exceeded, memory=[0-9]+/))
        past = substr($0, RSTART + 30, RLENGTH - 30) - limit
    next
}
# The browser b's tree, walked through the trace in its order: b, and
# every task a task of it made (task_of: its process, a thread's being its
# maker's), each a member from its making to its end, so that a pid reused
# by another process after one of the tree ended is not taken for it. A
# process ends with its first task (its pid). Sets the first action on the
# tree in the window, by the watchdog, earlyoom (a signal to any of its
# processes but the session's held fork, whose release is no action) or
# the OOM killer (a victim of it): act_t (1e15: none), by and act_sig;
# oom, every OOM victim in the window; the processes alive at the act
# (at_act_alive), the first SIGSTOP each took after it (stop_t), and
# their ends (died); and left, how many processes of the tree were alive
# at cut (-1: no cut).
function tree_walk(b, cut,   i, j, k, p, who) {
    nproc = 0; task_of[b] = b; proc[++nproc] = b
    by = "none"; act_t = 1e15; act_sig = ""; oom = 0; left = -1; frozen_trace_t = -1
    for (i = 1; i <= nev; i++) {
        if (cut >= 0 && left < 0 && ev_t[i] > cut) left = alive()
        k = ev_kind[i]; j = ev_i[i]
        if (k == "n" && (new_parent[j] in task_of)) {
            p = new_thread[j] ? task_of[new_parent[j]] : new_pid[j]
            task_of[new_pid[j]] = p
            if (!new_thread[j]) proc[++nproc] = p
        } else if (k == "x" && (exit_pid[j] in task_of)) {
            if (task_of[exit_pid[j]] == exit_pid[j] && !(exit_pid[j] in died)) died[exit_pid[j]] = ev_t[i]
            delete task_of[exit_pid[j]]
        } else if (k == "s" && act_t == 1e15 && (sig_pid[j] in task_of) && sig_comm[j] != session_comm &&
                   inside(sig_t[j])) {
            who = sig_from[j] == watchdog ? "watchdog" : sig_from[j] == "earlyoom" ? "earlyoom" : ""
            if (who != "") { act_t = sig_t[j]; by = who; act_sig = sig_no[j]; alive_at_act() }
        } else if (k == "v" && inside(victim_t[j])) {
            oom++
            if (act_t == 1e15 && (victim_pid[j] in task_of)) { act_t = victim_t[j]; by = "oom-killer"; alive_at_act() }
        } else if (k == "d" && act_t < 1e15 && (deliver_tid[j] in task_of)) {
            p = task_of[deliver_tid[j]]
            if (!(p in stop_t)) stop_t[p] = ev_t[i]
        } else if (k == "f" && act_t < 1e15 && frozen_trace_t < 0 && is_box(frozen_path[j])) {
            frozen_trace_t = ev_t[i]
        }
    }
    if (cut >= 0 && left < 0) left = alive()
}
# How many processes of the tree are alive.
function alive(   i, n) {
    n = 0
    for (i = 1; i <= nproc; i++) if (!(proc[i] in died)) n++
    return n
}
# The processes of the tree alive at the act, into at_act_alive (nalive).
function alive_at_act(   i) {
    nalive = 0
    for (i = 1; i <= nproc; i++) if (!(proc[i] in died)) at_act_alive[++nalive] = proc[i]
}
# Whether the cgroup path a trace event gives (from its hierarchy's root)
# is the box's v2 directory's.
function is_box(path,   n, d, i) {
    n = split(get("box_name"), d, ":")
    for (i = 1; i <= n; i++)
        if (path != "" && substr(d[i], length(d[i]) - length(path) + 1) == path) return 1
    return 0
}
# What the session's box is made of, from the words of its reserve line:
# "a box of cgroup v2 (freeze, kill) and v1 memory" is
# v2:freeze,kill+v1:memory; "a process group (...)" is group.
function box_of(words,   v2, v1) {
    if (words ~ /^a process group/) return "group"
    if (words !~ /^a box of /) return ""
    if (match(words, /cgroup v2 \([^)]*\)/)) {
        v2 = substr(words, RSTART + 11, RLENGTH - 12); gsub(/, /, ",", v2); gsub(/ /, "-", v2)
        v2 = "v2:" v2
    }
    if (match(words, /v1 [a-z ]+$/)) {
        v1 = substr(words, RSTART + 3); gsub(/ and /, ",", v1); v1 = "v1:" v1
    }
    return v2 (v2 != "" && v1 != "" ? "+" : "") v1
}
# From the watchdog's SIGSTOP to its box reported frozen, in ms: on v2 the
# kernel's cgroup_notify_frozen, or the watch on cgroup.events without it;
# on the v1 freezer its watch; for a process group, the last of the
# processes alive at the act to take its SIGSTOP (or end). "never" where
# that did not come, "-" where the watchdog did not stop the browser or
# there is no box.
function frozen_tree(   i, at, p, last) {
    if (by != "watchdog" || act_sig != 23 || box == "" || box == "-") return "-"
    at = -1
    if (box ~ /^v2:freeze/ && get("cgroup_frozen_trace") == "yes") {
        at = frozen_trace_t
    } else if (box ~ /^v2:freeze/ || box ~ /v1:[a-z,]*freezer/) {
        for (i = 1; i <= nwatched && at < 0; i++) if (watched_t[i] >= act_t) at = watched_t[i]
    } else {
        for (i = 1; i <= nalive; i++) {
            p = at_act_alive[i]
            last = (p in stop_t) ? stop_t[p] : (p in died) && died[p] >= act_t ? died[p] : -1
            if (last < 0) return "never"
            if (last > at) at = last
        }
    }
    return at < 0 ? "never" : sprintf("%d", at - act_t)
}
# The processes of the tree left 2 s after the browser's end: those its
# box's cgroups listed then, while it had them (box_left), else those the
# trace saw made and not ended by then; "-" if it did not end.
function left_behind(gone) {
    if (!gone) return "-"
    return get("box_left") != "" ? get("box_left") : left
}
# The exit of the browser b in the window, or 0.
function exit_of(b,   i) {
    for (i = 1; i <= nexit; i++) if (exit_pid[i] == b && inside(exit_t[i])) return exit_t[i]
    return 0
}
# MemAvailable plus SwapFree of sample i, or -1 where either is unreadable.
function headroom(i) { return mem_avail[i] < 0 || mem_swap[i] < 0 ? -1 : mem_avail[i] + mem_swap[i] }
# What the device had in hand when the browser was acted on: the last
# sample at or before the act; -1 without one.
function at_act(   i, level) {
    level = -1
    for (i = 1; i <= nmem && act_t < 1e15; i++) {
        if (mem_t[i] > act_t) break
        if (inside(mem_t[i]) && headroom(i) >= 0) level = headroom(i)
    }
    return level
}
# The lowest point through the reaction: from the act to the browser's
# exit (the dialog shown and answered, or earlyoom's kill); -1 without one.
function dialog_min(gone,   i, low) {
    low = -1
    for (i = 1; i <= nmem && act_t < 1e15 && gone; i++) {
        if (mem_t[i] < act_t || mem_t[i] > gone || !inside(mem_t[i]) || headroom(i) < 0) continue
        if (low < 0 || headroom(i) < low) low = headroom(i)
    }
    return low
}
# Over the window: the X server's lowest VmRSS (xmin), the lowest
# headroom (hmin), the same without the boost (umin) and the longest gap
# between samples (gap); -1 for each without a sample.
function window_minima(   i, u, last) {
    xmin = -1; hmin = -1; umin = -1; gap = -1; last = -1
    for (i = 1; i <= nmem; i++) {
        if (!inside(mem_t[i])) continue
        if (last >= 0 && mem_t[i] - last > gap) gap = mem_t[i] - last
        last = mem_t[i]
        if (mem_x[i] >= 0 && (xmin < 0 || mem_x[i] < xmin)) xmin = mem_x[i]
        if (mem_swap[i] < 0) continue
        if (mem_unboosted[i] >= 0) {
            u = mem_unboosted[i] + mem_swap[i]
            if (umin < 0 || u < umin) umin = u
        }
        if (headroom(i) >= 0 && (hmin < 0 || headroom(i) < hmin)) hmin = headroom(i)
    }
}
# Seconds from the browser's exit to the first sample with MemAvailable
# back within 10% of the rest's; "never" in the window, "-" if it did not
# end.
function recovered(gone,   i, rest_avail) {
    rest_avail = num(get("rest_avail"))
    if (!gone || rest_avail <= 0) return "-"
    for (i = 1; i <= nmem; i++)
        if (mem_t[i] >= gone && inside(mem_t[i]) && mem_avail[i] >= 0.9 * rest_avail)
            return sprintf("%.1f", (mem_t[i] - gone) / 1000)
    return "never"
}
# Whom the session's SIGCONT released the browser p from (the sender's
# pid) before it ran at te, or "".
function released_by(p, te,   j) {
    for (j = 1; j <= nsig; j++)
        if (sig_pid[j] == p && sig_comm[j] == session_comm && sig_from[j] == watchdog && sig_t[j] <= te)
            return sig_sender[j]
    return ""
}
# Each browser that ran (its exec in the window): when the first ran
# (held), how many (browsers), how many before a release (early), how
# many stopped first by the watchdog that released them (own), and the
# gaps from one's exit to the next one's run (gaps).
function browsers_run(b,   i, j, p, te, by_whom, last_exit) {
    held = "-"; browsers = 0; early = 0; own = 0; gaps = ""; last_exit = -1
    for (i = 1; i <= nexec; i++) {
        p = exec_pid[i]; te = exec_t[i]
        if (!inside(te)) continue
        browsers++
        if (p == b) held = te - b0
        if (last_exit >= 0) gaps = gaps (gaps == "" ? "" : ",") sprintf("%.1f", (te - last_exit) / 1000)
        by_whom = released_by(p, te)
        if (by_whom == "") early++
        for (j = 1; j <= nsig; j++)
            if (sig_pid[j] == p && sig_comm[j] != session_comm && inside(sig_t[j]) && sig_t[j] >= te) {
                if (sig_from[j] == watchdog && sig_sender[j] == by_whom) own++
                break
            }
        last_exit = -1
        for (j = 1; j <= nexit; j++) if (exit_pid[j] == p && exit_t[j] >= te) { last_exit = exit_t[j]; break }
        if (last_exit >= 0 && !inside(last_exit)) last_exit = -1
    }
}
function or_dash(v) { return v == "" ? "-" : v }
function mib(kib) { return kib < 0 ? "-" : sprintf("%d", kib / 1024) }
END {
    # A sender the trace saw run is known by its pid; else by the name it
    # gives it.
    for (i = 1; i <= nsig; i++) if (sig_sender[i] in program_of) sig_from[i] = program_of[sig_sender[i]]
    b = get("browser_pid")
    gone = exit_of(b)
    tree_walk(b, gone ? gone + 2000 : -1)
    acted = act_t < 1e15 ? sprintf("%.1f", (act_t - b0) / 1000) : "-"
    window_minima()
    browsers_run(b)
    rest_x = num(get("rest_x_rss"))
    arm = get("arm")
    session = arm == "session" || arm == "kiosk" || arm == "plain" || arm ~ /^session=/
    if (reserve == "" || arm == "kernel" || arm == "earlyoom") reserve = "-"
    # Which of the project's packages ran: none on the arms without it.
    package = (arm == "kernel" || arm == "earlyoom") ? "-" : or_dash(get("package"))
    if (!session) box = "-"
    name = get("browser_name") (get("grower") != "" ? ":" get("grower") : "")
    printf "device: arm=%s page=%s browser=%s package=%s acted_s=%s stopped_by=%s oom_kills=%d x_alive=%s x_rss_min_pct=%s x_rtt_max_ms=%s heartbeat_max_ms=%s headroom_min_mib=%s headroom_at_act_mib=%s headroom_dialog_min_mib=%s past_limit_kib=%s recovered_s=%s restarted=%s emulator_stalls=%d device=%s reserve_mib=%s end=%s sample_gap_max_ms=%s held_ms=%s browsers=%d ran_unreleased=%s own_watchdog_stops=%s pauses_said_s=%s restart_gaps_s=%s headroom_unboosted_min_mib=%s box=%s frozen_tree_ms=%s left_behind=%s\n",
        arm, get("page"), name, package, acted, by, oom, or_dash(get("x_alive")),
        xmin < 0 || rest_x <= 0 ? "-" : sprintf("%d", xmin * 100 / rest_x + 0.5),
        seen_rtt ? rtt : "-", seen_beat ? beat : "-", mib(hmin), mib(at_act()), mib(dialog_min(gone)),
        by == "watchdog" && past != "" ? past : "-",
        recovered(gone), or_dash(get("restarted")), stalls, or_dash(get("device")), reserve,
        or_dash(get("end")), gap < 0 ? "-" : gap, held, browsers, session ? early : "-",
        session ? own : "-", session && pauses != "" ? pauses : "-", or_dash(gaps), mib(umin),
        or_dash(box), frozen_tree(), left_behind(gone)
}
