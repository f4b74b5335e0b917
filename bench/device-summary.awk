# The line of one arm of the device trial (bench/device-summary DIR runs
# it): the guest's notes (events) first, then its trace, probe samples,
# kernel log, the watchdog's log and the session's errors, each a file
# named as the guest names it. -v watchdog, -v browser, -v session_comm:
# the watchdog's, the browser's and the session's names as the kernel
# keeps them.
function get(k) { return (k in ev) ? ev[k] : "" }
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
    sender = $0; sub(/ +\[[0-9]+\].*/, "", sender); sub(/^ +/, "", sender); sub(/-[0-9]+$/, "", sender)
    if ($0 ~ /signal_generate:/) {
        match($0, / pid=[0-9]+/); pid = substr($0, RSTART + 5, RLENGTH - 5)
        # The target: the browser, or the session's fork that is to become
        # it, named as the session is.
        match($0, / comm=[^ ]+/); comm = substr($0, RSTART + 6, RLENGTH - 6)
        # The sender, as the trace names it: comm-pid.
        from = $0; sub(/ +\[[0-9]+\].*/, "", from); sub(/^ +/, "", from)
        nsig++; sig_t[nsig] = t; sig_pid[nsig] = pid; sig_from[nsig] = sender
        sig_comm[nsig] = comm; sig_sender[nsig] = from
    } else if ($0 ~ /sched_process_exec:/) {
        match($0, / pid=[0-9]+/); pid = substr($0, RSTART + 5, RLENGTH - 5)
        nexec++; exec_t[nexec] = t; exec_pid[nexec] = pid
    } else if ($0 ~ /sched_process_exit:/) {
        match($0, / pid=[0-9]+/); pid = substr($0, RSTART + 5, RLENGTH - 5)
        nexit++; exit_t[nexit] = t; exit_pid[nexit] = pid
    } else if ($0 ~ /mark_victim:/) {
        match($0, /pid=[0-9]+/); pid = substr($0, RSTART + 4, RLENGTH - 4)
        nvictim++; victim_t[nvictim] = t; victim_pid[nvictim] = pid
    }
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
# The first action on the browser b in the window, by the watchdog,
# earlyoom or the OOM killer: sets act_t (1e15: none) and by. The release
# of a held browser is no action on it; oom counts every OOM victim.
function first_act(b,   i, who) {
    by = "none"; act_t = 1e15
    for (i = 1; i <= nsig; i++) {
        if (sig_pid[i] != b || sig_comm[i] != browser || !inside(sig_t[i])) continue
        if (sig_from[i] == watchdog) who = "watchdog"
        else if (sig_from[i] == "earlyoom") who = "earlyoom"
        else continue
        act_t = sig_t[i]; by = who; break
    }
    oom = 0
    for (i = 1; i <= nvictim; i++) {
        if (!inside(victim_t[i])) continue
        oom++
        if (victim_pid[i] == b && victim_t[i] < act_t) { act_t = victim_t[i]; by = "oom-killer" }
    }
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
# Whom the session's SIGCONT released the browser p from (the sender, as
# the trace names it) before it ran at te, or "".
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
            if (sig_pid[j] == p && sig_comm[j] == browser && inside(sig_t[j]) && sig_t[j] >= te) {
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
    b = get("browser_pid")
    first_act(b)
    acted = act_t < 1e15 ? sprintf("%.1f", (act_t - b0) / 1000) : "-"
    gone = exit_of(b)
    window_minima()
    browsers_run(b)
    rest_x = num(get("rest_x_rss"))
    arm = get("arm")
    session = arm == "session" || arm == "kiosk" || arm == "plain" || arm ~ /^session=/
    if (reserve == "" || arm == "kernel" || arm == "earlyoom") reserve = "-"
    # Which of the project's packages ran: none on the arms without it.
    package = (arm == "kernel" || arm == "earlyoom") ? "-" : or_dash(get("package"))
    printf "device: arm=%s page=%s browser=%s package=%s acted_s=%s stopped_by=%s oom_kills=%d x_alive=%s x_rss_min_pct=%s x_rtt_max_ms=%s heartbeat_max_ms=%s headroom_min_mib=%s headroom_at_act_mib=%s headroom_dialog_min_mib=%s past_limit_kib=%s recovered_s=%s restarted=%s emulator_stalls=%d device=%s reserve_mib=%s end=%s sample_gap_max_ms=%s held_ms=%s browsers=%d ran_unreleased=%s own_watchdog_stops=%s pauses_said_s=%s restart_gaps_s=%s headroom_unboosted_min_mib=%s\n",
        arm, get("page"), get("browser_name"), package, acted, by, oom, or_dash(get("x_alive")),
        xmin < 0 || rest_x <= 0 ? "-" : sprintf("%d", xmin * 100 / rest_x + 0.5),
        seen_rtt ? rtt : "-", seen_beat ? beat : "-", mib(hmin), mib(at_act()), mib(dialog_min(gone)),
        by == "watchdog" && past != "" ? past : "-",
        recovered(gone), or_dash(get("restarted")), stalls, or_dash(get("device")), reserve,
        or_dash(get("end")), gap < 0 ? "-" : gap, held, browsers, session ? early : "-",
        session ? own : "-", session && pauses != "" ? pauses : "-", or_dash(gaps), mib(umin)
}
