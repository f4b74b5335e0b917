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
END {
    b = get("browser_pid")
    acted = "-"; by = "none"; act_t = 1e15
    for (i = 1; i <= nsig; i++) {
        # The release of a held browser is no action on it.
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
    if (act_t < 1e15) acted = sprintf("%.1f", (act_t - b0) / 1000)
    gone = 0
    for (i = 1; i <= nexit; i++) if (exit_pid[i] == b && inside(exit_t[i])) { gone = exit_t[i]; break }
    # What the device had in hand when the browser was acted on: the last
    # sample at or before the act.
    at_act = -1
    for (i = 1; i <= nmem && act_t < 1e15; i++) {
        if (mem_t[i] > act_t) break
        if (inside(mem_t[i]) && mem_avail[i] >= 0 && mem_swap[i] >= 0) at_act = mem_avail[i] + mem_swap[i]
    }
    # The lowest point through the reaction: from the act to the browser's
    # exit (the dialog shown and answered, or earlyoom's kill).
    dmin = -1
    for (i = 1; i <= nmem && act_t < 1e15 && gone; i++) {
        if (mem_t[i] < act_t || mem_t[i] > gone || !inside(mem_t[i])) continue
        if (mem_avail[i] < 0 || mem_swap[i] < 0) continue
        h = mem_avail[i] + mem_swap[i]
        if (dmin < 0 || h < dmin) dmin = h
    }
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
        if (mem_avail[i] < 0) continue
        h = mem_avail[i] + mem_swap[i]
        if (hmin < 0 || h < hmin) hmin = h
    }
    rest_avail = num(get("rest_avail")); rest_x = num(get("rest_x_rss"))
    rec = "-"
    if (gone && rest_avail > 0) {
        rec = "never"
        for (i = 1; i <= nmem; i++)
            if (mem_t[i] >= gone && inside(mem_t[i]) && mem_avail[i] >= 0.9 * rest_avail) {
                rec = sprintf("%.1f", (mem_t[i] - gone) / 1000); break
            }
    }
    restarted = get("restarted"); if (restarted == "") restarted = "-"
    arm = get("arm")
    session = arm == "session" || arm == "kiosk" || arm == "plain" || arm ~ /^session=/
    # Each browser that ran (its exec in the window): when it ran, who
    # released it (a held browser, before it ran) and who stopped it.
    held = "-"; browsers = 0; early = 0; own = 0; gaps = ""; last_exit = -1
    for (i = 1; i <= nexec; i++) {
        p = exec_pid[i]; te = exec_t[i]
        if (!inside(te)) continue
        browsers++
        if (p == b) held = te - b0
        if (last_exit >= 0) gaps = gaps (gaps == "" ? "" : ",") sprintf("%.1f", (te - last_exit) / 1000)
        released_by = ""
        for (j = 1; j <= nsig; j++)
            if (sig_pid[j] == p && sig_comm[j] == session_comm &&
                sig_from[j] == watchdog && sig_t[j] <= te) {
                released_by = sig_sender[j]; break
            }
        if (released_by == "") early++
        for (j = 1; j <= nsig; j++)
            if (sig_pid[j] == p && sig_comm[j] == browser && inside(sig_t[j]) && sig_t[j] >= te) {
                if (sig_from[j] == watchdog && sig_sender[j] == released_by) own++
                break
            }
        last_exit = -1
        for (j = 1; j <= nexit; j++) if (exit_pid[j] == p && exit_t[j] >= te) { last_exit = exit_t[j]; break }
        if (last_exit >= 0 && !inside(last_exit)) last_exit = -1
    }
    x_alive = get("x_alive"); if (x_alive == "") x_alive = "-"
    end_rule = get("end"); if (end_rule == "") end_rule = "-"
    if (reserve == "" || arm == "kernel" || arm == "earlyoom") reserve = "-"
    # Which of the project's packages ran: none on the arms without it.
    package = (arm == "kernel" || arm == "earlyoom" || get("package") == "") ? "-" : get("package")
    printf "device: arm=%s page=%s browser=%s package=%s acted_s=%s stopped_by=%s oom_kills=%d x_alive=%s x_rss_min_pct=%s x_rtt_max_ms=%s heartbeat_max_ms=%s headroom_min_mib=%s headroom_at_act_mib=%s headroom_dialog_min_mib=%s past_limit_kib=%s recovered_s=%s restarted=%s emulator_stalls=%d device=%s reserve_mib=%s end=%s sample_gap_max_ms=%s held_ms=%s browsers=%d ran_unreleased=%s own_watchdog_stops=%s pauses_said_s=%s restart_gaps_s=%s headroom_unboosted_min_mib=%s\n",
        arm, get("page"), get("browser_name"), package, acted, by, oom, x_alive,
        xmin < 0 || rest_x <= 0 ? "-" : sprintf("%d", xmin * 100 / rest_x + 0.5),
        seen_rtt ? rtt : "-", seen_beat ? beat : "-", hmin < 0 ? "-" : sprintf("%d", hmin / 1024),
        at_act < 0 ? "-" : sprintf("%d", at_act / 1024),
        dmin < 0 ? "-" : sprintf("%d", dmin / 1024),
        by == "watchdog" && past != "" ? past : "-",
        rec, restarted, stalls, get("device") == "" ? "-" : get("device"), reserve, end_rule,
        gap < 0 ? "-" : gap, held, browsers, session ? early : "-", session ? own : "-",
        session && pauses != "" ? pauses : "-", gaps == "" ? "-" : gaps,
        umin < 0 ? "-" : sprintf("%d", umin / 1024)
}
