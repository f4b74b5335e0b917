// The reserve the watchdog is given: the figures read, the rule applied,
// and what was settled said.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session/session.h"

namespace {

// How the watchdog's checks are woken, and what each browser's box is made
// of, for the reserve's line.
const char *wakes_words()
{
    static char words[512];
    char wakes[128] = "";
    if (settings.adaptive && settings.trigger_error == 0)
        std::snprintf(wakes, sizeof wakes, "; checks on memory pressure too");
    else if (settings.adaptive)
        std::snprintf(wakes, sizeof wakes,
                      "; checks on its period alone (no memory pressure trigger: %s)",
                      std::strerror(settings.trigger_error));
    std::snprintf(words, sizeof words, "%s; each browser in %s", wakes,
                  place_words(settings.box));
    return words;
}

// The room a reserve is taken from, for a line: of what the device has
// left, or beside the X server's count.
const char *base_words(const Figures &f)
{
    static char words[96];
    if (settings.count->kind == CountKind::headroom)
        std::snprintf(words, sizeof words, "of the %" PRIu64 " KiB the device has left", f.left);
    else
        std::snprintf(words, sizeof words, "beside the X server's count of %" PRIu64 " KiB",
                      f.x_count);
    return words;
}

// Why reserve r cannot be given: no_limit or no_room.
const char *why_words(const Reserve &r, const Figures &f)
{
    static char words[192];
    if (r.refusal == Refusal::no_limit)
        std::snprintf(words, sizeof words,
                      "leaves no limit of RAM+swap %" PRId64 " KiB (the watchdog needs more "
                      "than %" PRIu64 " KiB)", r.total, limit_margin);
    else
        std::snprintf(words, sizeof words, "leaves the browser %" PRId64 " KiB %s (it needs %" PRId64
                      " KiB)", r.room, base_words(f), browser_min_kib);
    return words;
}

// The figures the rule chose from, for its line.
const char *rule_words(const Reserve &r, const Figures &f)
{
    static char words[256];
    if (settings.count->kind == CountKind::headroom)
        std::snprintf(words, sizeof words,
                      "RAM+swap %" PRId64 " KiB: %s %" PRIu64 ", the kernel's own %" PRIu64
                      ", margin %" PRIu64 " KiB%s", r.total,
                      f.swap == 0   ? "a sixth of RAM"
                      : f.zram > 0 ? "a quarter, zram at what it gives back,"
                                   : "a quarter",
                      r.floor, f.keep, r.margin, f.tripwire ? " behind a tripwire" : "");
    else
        std::snprintf(words, sizeof words,
                      "RAM+swap %" PRId64 " KiB: %s %" PRIu64 ", in use at rest %" PRIu64
                      ", margin %" PRIu64 ", X server's count %" PRIu64 " KiB",
                      r.total, f.swap > 0 ? "a quarter" : "a sixth of RAM", r.floor, f.in_use,
                      r.margin, f.x_count);
    return words;
}

void say_room(const Reserve &r, const Figures &f)
{
    if (r.room < browser_low_kib)
        say("the browser has %" PRId64 " KiB %s: the device lacks %" PRId64 " KiB of the %" PRId64
            " KiB everyday pages need; larger pages are stopped",
            r.room, base_words(f), browser_low_kib - r.room, browser_low_kib);
}

// What is in use and the X server's count with the device at rest: sampled
// every half second until five samples in a row agree within 256 KiB, or
// the least seen in 30 s. False when a sample cannot be read.
bool sample_rest(Figures &f)
{
    constexpr int samples_agreeing = 5;
    constexpr std::uint64_t agree_kib = 256;
    constexpr int most_samples = 60;
    constexpr int sample_ms = 500;
    std::uint64_t last[samples_agreeing] = {};
    std::uint64_t best = UINT64_MAX;
    std::uint64_t best_x = 0;
    for (int n = 0; n < most_samples; ++n) {
        if (!read_rest_sample(f))
            return false;
        if (f.in_use < best) {
            best = f.in_use;
            best_x = f.x_count;
        }
        last[n % samples_agreeing] = f.in_use;
        if (n + 1 >= samples_agreeing) {
            std::uint64_t lo = UINT64_MAX;
            std::uint64_t hi = 0;
            for (const std::uint64_t v : last) {
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
            if (hi - lo <= agree_kib)
                return true;
        }
        // cppcheck-suppress knownConditionTrueFalse
        if (n + 1 < most_samples)
            pause_ms(sample_ms);
    }
    say("memory in use not steady over 30 s: taking the least seen");
    f.in_use = best;
    f.x_count = best_x;
    return true;
}

// The figures of a chosen reserve: false, said, when they cannot be read.
bool read_rule_figures(Figures &f)
{
    if (settings.count->kind == CountKind::headroom) {
        if (read_room(f) && read_keep(f))
            return true;
        say("cannot read MemTotal, MemFree, the file pages, KReclaimable, /proc/swaps or "
            "/proc/zoneinfo under %s: set RESERVE_MIB", settings.proc_name);
        return false;
    }
    if (read_room(f) && sample_rest(f) && read_keep(f))
        return true;
    say("cannot read MemTotal, MemFree, the file pages, KReclaimable, /proc/swaps or "
        "the X server's status under %s: set RESERVE_MIB", settings.proc_name);
    return false;
}

// Chooses the reserve into r; false, with the reason said, when the
// figures cannot be read or even the least reserve leaves the browser no
// room (r is then the rule's).
bool choose(Reserve &r)
{
    if (const char *lack = kernel_lacks()) {
        say("this kernel cannot give what BROWSER_WATCHDOG_COUNT=%s counts: %s",
            settings.count->name, lack);
        return false;
    }
    Figures f{};
    if (!read_rule_figures(f))
        return false;
    r = settle(f, *settings.count, nullptr);
    const char *figures = rule_words(r, f);
    const std::int64_t left = r.base - static_cast<std::int64_t>(r.rule_mib) * 1024;
    if (r.refusal != Refusal::none) {
        say("reserve %" PRIu64 " MiB (%s) leaves the browser %" PRId64
            " KiB %s: no room for the browser; not starting it unwatched",
            r.rule_mib, figures, left, base_words(f));
        return false;
    }
    if (r.mib != r.rule_mib)
        say("reserve %" PRIu64 " MiB (%s) leaves the browser %" PRId64 " KiB %s: the device "
            "lacks %" PRIu64 " KiB; reserve cut to %" PRIu64 " MiB",
            r.rule_mib, figures, left, base_words(f), (r.rule_mib - r.mib) * 1024, r.mib);
    say("reserve %" PRIu64 " MiB (%s): limit %" PRId64 " KiB%s", r.mib, figures, r.limit,
        wakes_words());
    say_room(r, f);
    return true;
}

// A reserve given must be one the watchdog takes: a whole number of MiB
// that leaves it a limit the count can reach, and the browser room, as a
// chosen one does.
Reserve take_given()
{
    const char *text = settings.given_text;
    if (const char *lack = kernel_lacks())
        refuse("this kernel cannot give what BROWSER_WATCHDOG_COUNT=%s counts: %s",
               settings.count->name, lack);
    Figures f{};
    if (!read_room(f))
        refuse("cannot read MemTotal, /proc/swaps or %s under %s: cannot check RESERVE_MIB; "
               "not starting the browser", settings.count->base_source, settings.proc_name);
    const bool keep_read = read_keep(f);
    const Reserve r = settle(f, *settings.count, &settings.given_mib);
    if (r.refusal == Refusal::no_limit || r.refusal == Refusal::no_room)
        refuse("RESERVE_MIB=%s %s: not starting the browser", text, why_words(r, f));
    if (!keep_read)
        refuse("cannot read /proc/zoneinfo under %s: cannot check RESERVE_MIB; not starting "
               "the browser", settings.proc_name);
    if (r.refusal == Refusal::below_least)
        refuse("RESERVE_MIB=%s is below what the count can reach: the kernel keeps %" PRIu64
               " KiB of what the device has left before its OOM killer acts; the least "
               "reserve is %" PRIu64 " MiB: not starting the browser",
               text, r.least, r.least / 1024 + 1);
    say("reserve %" PRIu64 " MiB (RESERVE_MIB): limit %" PRId64 " KiB%s", r.mib, r.limit,
        wakes_words());
    say_room(r, f);
    return r;
}

} // namespace

Reserve settle_reserve()
{
    if (settings.given)
        return take_given();
    Reserve r{};
    if (!choose(r))
        std::exit(1);
    return r;
}

Reserve fit_limit(const Reserve &current)
{
    constexpr int recheck_ms = 5000;
    Reserve r = current;
    bool waiting = false;
    for (;;) {
        Figures f{};
        if (read_room(f)) {
            const auto total = static_cast<std::int64_t>(f.ram + f.swap);
            if (total != r.total && !settings.given) {
                say("RAM+swap is now %" PRId64 " KiB (was %" PRId64 " KiB): choosing the "
                    "reserve again", total, r.total);
                if (choose(r))
                    return r;
                r.total = total;
            } else {
                const Reserve now = refit(f, *settings.count, r.mib);
                if (now.refusal == Refusal::none) {
                    if (waiting)
                        say("reserve %" PRIu64 " MiB: limit %" PRId64 " KiB; starting the "
                            "browser", now.mib, now.limit);
                    return now;
                }
                if (!waiting)
                    say("reserve %" PRIu64 " MiB %s: waiting for memory before the browser "
                        "starts", now.mib, why_words(now, f));
            }
        } else if (!waiting) {
            say("cannot read MemTotal, /proc/swaps or %s under %s: waiting before the browser "
                "starts", settings.count->base_source, settings.proc_name);
        }
        waiting = true;
        pause_ms(recheck_ms);
        check_x_server();
    }
}
