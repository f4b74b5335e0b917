// The reserve the watchdog is given: taken from RESERVE_MIB, or chosen from
// the device's own figures, as the watchdog will count them.
#include <cinttypes>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "session/session.h"

std::uint64_t reserve_mib;

namespace {

// The margin with a count of the processes: what happens after the limit
// is crossed, and what the count does not see. With swap that is most of
// it, since a page swapped in again keeps its slot until freed, so the
// device holds more than the count says; without swap there is less of
// it, and less to spare. docs/reserve.md says why.
constexpr std::int64_t margin_swap_kib = 30720;
constexpr std::int64_t margin_no_swap_kib = 16384;
// With the headroom count the margin covers only the browser's growth past
// the limit before the check that sees it: about 1 MiB by the period, more
// in a burst faster than any growth seen before.
constexpr std::int64_t margin_headroom_kib = 5120;
// The least room the browser is given, and the room everyday pages need.
constexpr std::int64_t browser_min_kib = 10240;
constexpr std::int64_t browser_low_kib = 16384;
// A reserve beyond this many MiB leaves no limit on any machine.
constexpr std::uint64_t reserve_most_mib = std::uint64_t{1} << 40;

bool given;
char given_text[32];
std::uint64_t reserve_total;

// The figures of the last reading.
Totals totals;
std::uint64_t base;
char base_words[96];
std::int64_t limit;
std::int64_t room;
char why[192];

std::int64_t reserve_kib()
{
    return static_cast<std::int64_t>(reserve_mib) * 1024;
}

// Whether the watchdog takes the reserve on the total read and leaves the
// browser room beside what it counts; if not, why says what lacks.
bool limit_fits()
{
    const auto total = static_cast<std::int64_t>(totals.total);
    limit = total - reserve_kib();
    room = static_cast<std::int64_t>(base) - reserve_kib();
    why[0] = '\0';
    if (reserve_kib() + static_cast<std::int64_t>(limit_margin) >= total)
        std::snprintf(why, sizeof why,
                      "leaves no limit of RAM+swap %" PRId64 " KiB (the watchdog needs more "
                      "than %" PRIu64 " KiB)", total, limit_margin);
    else if (room < browser_min_kib)
        std::snprintf(why, sizeof why, "leaves the browser %" PRId64 " KiB %s (it needs %" PRId64
                      " KiB)", room, base_words, browser_min_kib);
    return why[0] == '\0';
}

void say_room()
{
    if (room < browser_low_kib)
        say("the browser has %" PRId64 " KiB %s: the device lacks %" PRId64 " KiB of the %" PRId64
            " KiB everyday pages need; larger pages are stopped",
            room, base_words, browser_low_kib - room, browser_low_kib);
}

bool read_figures()
{
    return read_totals(totals) && read_base(totals, base, base_words, sizeof base_words);
}

// What a count this kernel cannot give lacks, and the setting that works;
// nullptr when the figures are merely unreadable.
const char *kernel_lacks()
{
    // Without the file LRU fields the device's rest cannot be read either:
    // only the size count, with a reserve given, runs there.
    const bool lru = read_device_left(proc, 0).error != mem_parse_error;
    if (counts_headroom() && !lru)
        return "its /proc/meminfo has no Active(file), Inactive(file) or KReclaimable "
               "(SReclaimable) (Linux 2.6.28 and later have them): the headroom count "
               "cannot run; set BROWSER_WATCHDOG_COUNT=size and RESERVE_MIB";
    std::uint64_t x = 0;
    if (session_count->name[0] == 'r' && !read_x_count(x)) {
        char name[16];
        std::snprintf(name, sizeof name, "%d", x_pid);
        const int dir = openat(proc, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool parse = dir >= 0 && read_process_resident(dir).error == status_parse_error;
        if (dir >= 0)
            close(dir);
        if (parse && !lru)
            return "the X server's status has no VmRSS or VmSwap (Linux 2.6.34 and later "
                   "have them): the resident count cannot run; set "
                   "BROWSER_WATCHDOG_COUNT=size and RESERVE_MIB";
        if (parse)
            return "the X server's status has no VmRSS or VmSwap (Linux 2.6.34 and later "
                   "have them): the resident count cannot run; set "
                   "BROWSER_WATCHDOG_COUNT=headroom or size";
    }
    return nullptr;
}

// The least reserve the count can reach, KiB: what the device has left
// never falls below what the kernel keeps of it before its OOM killer
// acts, and what the processes hold never rises above the rest. 0 for the
// program size, which counts more than the processes hold.
bool least_reserve(std::uint64_t &least)
{
    least = 0;
    return session_count->name[0] == 's' || read_kernel_keep(least);
}

// Chooses the reserve; false, with the reason said, when the figures
// cannot be read or even the least reserve leaves the browser no room.
bool choose_reserve()
{
    if (const char *lack = kernel_lacks()) {
        say("this kernel cannot give what BROWSER_WATCHDOG_COUNT=%s counts: %s",
            session_count->name, lack);
        return false;
    }
    char figures[256];
    std::int64_t chosen = 0;
    std::uint64_t keep = 0;
    if (counts_headroom()) {
        if (!read_figures() || !read_kernel_keep(keep)) {
            say("cannot read MemTotal, MemFree, the file pages, KReclaimable, /proc/swaps or "
                "/proc/zoneinfo under %s: set RESERVE_MIB", proc_name);
            return false;
        }
        // What the device keeps in hand: swap takes a burst in its stride;
        // without it the device has only RAM. zram is worth what the count
        // counts it at: what filling it gives back.
        const std::uint64_t worth = totals.total - totals.zram + zram_worth(totals.zram);
        const std::uint64_t floor = totals.swap > 0 ? worth / 4 : totals.ram / 6;
        chosen = static_cast<std::int64_t>(floor + keep) + margin_headroom_kib;
        std::snprintf(figures, sizeof figures,
                      "RAM+swap %" PRIu64 " KiB: %s %" PRIu64 ", the kernel's own %" PRIu64
                      ", margin %" PRId64 " KiB", totals.total,
                      totals.swap == 0   ? "a sixth of RAM"
                      : totals.zram > 0 ? "a quarter, zram at what it gives back,"
                                        : "a quarter",
                      floor, keep, margin_headroom_kib);
    } else {
        std::uint64_t in_use = 0;
        std::uint64_t x_count = 0;
        if (!read_totals(totals) || !read_rest(in_use, x_count) || !read_figures() ||
            !least_reserve(keep)) {
            say("cannot read MemTotal, MemFree, the file pages, KReclaimable, /proc/swaps or "
                "the X server's status under %s: set RESERVE_MIB", proc_name);
            return false;
        }
        const bool swap = totals.swap > 0;
        const std::uint64_t floor = swap ? totals.total / 4 : totals.ram / 6;
        const std::int64_t margin = swap ? margin_swap_kib : margin_no_swap_kib;
        chosen = static_cast<std::int64_t>(floor + in_use) + margin -
                 static_cast<std::int64_t>(x_count);
        if (chosen <= 0)
            chosen = 1024;
        std::snprintf(figures, sizeof figures,
                      "RAM+swap %" PRIu64 " KiB: %s %" PRIu64 ", in use at rest %" PRIu64
                      ", margin %" PRId64 ", X server's count %" PRIu64 " KiB",
                      totals.total, swap ? "a quarter" : "a sixth of RAM", floor, in_use, margin,
                      x_count);
    }
    reserve_mib = static_cast<std::uint64_t>((chosen + 1023) / 1024);
    // A reserve that leaves the browser too little room would stop it at
    // once, again and again: give it the least room, from the reserve, and
    // say what the device lacks; with none to give, refuse.
    const std::int64_t most = (static_cast<std::int64_t>(base) - browser_min_kib) / 1024;
    const auto least_mib = static_cast<std::int64_t>(keep / 1024 + 1);
    if (static_cast<std::int64_t>(reserve_mib) > most) {
        const std::int64_t left = static_cast<std::int64_t>(base) - reserve_kib();
        if (most < 1 || most < least_mib) {
            say("reserve %" PRIu64 " MiB (%s) leaves the browser %" PRId64
                " KiB %s: no room for the browser; not starting it unwatched",
                reserve_mib, figures, left, base_words);
            return false;
        }
        say("reserve %" PRIu64 " MiB (%s) leaves the browser %" PRId64 " KiB %s: the device "
            "lacks %" PRId64 " KiB; reserve cut to %" PRId64 " MiB",
            reserve_mib, figures, left, base_words,
            (static_cast<std::int64_t>(reserve_mib) - most) * 1024, most);
        reserve_mib = static_cast<std::uint64_t>(most);
    }
    limit_fits();
    reserve_total = totals.total;
    say("reserve %" PRIu64 " MiB (%s): limit %" PRId64 " KiB%s", reserve_mib, figures, limit,
        wakes_words);
    say_room();
    return true;
}

// A reserve given must be one the watchdog takes: a whole number of MiB
// that leaves it a limit the count can reach, and the browser room, as a
// chosen one does.
void check_reserve(const char *text)
{
    const char *digits = text;
    while (*digits >= '0' && *digits <= '9')
        ++digits;
    if (digits == text || *digits != '\0')
        refuse("RESERVE_MIB=%s is not a whole number of MiB: not starting the browser", text);
    // Leading zeros are read as a number's, as the watchdog reads them.
    while (text[0] == '0' && text[1] != '\0')
        ++text;
    std::snprintf(given_text, sizeof given_text, "%.20s", text);
    reserve_mib = 0;
    for (const char *p = text; *p != '\0' && reserve_mib < reserve_most_mib; ++p)
        reserve_mib = reserve_mib * 10 + static_cast<std::uint64_t>(*p - '0');
    if (const char *lack = kernel_lacks())
        refuse("this kernel cannot give what BROWSER_WATCHDOG_COUNT=%s counts: %s",
               session_count->name, lack);
    if (!read_figures())
        refuse("cannot read MemTotal, /proc/swaps or %s under %s: cannot check RESERVE_MIB; "
               "not starting the browser", session_count->base_source, proc_name);
    if (!limit_fits())
        refuse("RESERVE_MIB=%s %s: not starting the browser", given_text, why);
    std::uint64_t least = 0;
    if (!least_reserve(least))
        refuse("cannot read /proc/zoneinfo under %s: cannot check RESERVE_MIB; not starting "
               "the browser", proc_name);
    if (reserve_mib * 1024 <= least)
        refuse("RESERVE_MIB=%s is below what the count can reach: the kernel keeps %" PRIu64
               " KiB of what the device has left before its OOM killer acts; the least "
               "reserve is %" PRIu64 " MiB: not starting the browser",
               given_text, least, least / 1024 + 1);
    reserve_total = totals.total;
    say("reserve %" PRIu64 " MiB (RESERVE_MIB): limit %" PRId64 " KiB%s", reserve_mib, limit,
        wakes_words);
    say_room();
}

} // namespace

void settle_reserve()
{
    const char *text = std::getenv("RESERVE_MIB");
    given = text != nullptr && *text != '\0';
    if (given)
        check_reserve(text);
    else if (!choose_reserve())
        std::exit(1);
}

void fit_limit()
{
    constexpr int recheck_ms = 5000;
    bool waiting = false;
    for (;;) {
        if (read_figures()) {
            if (totals.total != reserve_total && !given) {
                say("RAM+swap is now %" PRIu64 " KiB (was %" PRIu64 " KiB): choosing the "
                    "reserve again", totals.total, reserve_total);
                if (choose_reserve())
                    return;
                reserve_total = totals.total;
            } else if (limit_fits()) {
                if (waiting)
                    say("reserve %" PRIu64 " MiB: limit %" PRId64 " KiB; starting the browser",
                        reserve_mib, limit);
                return;
            } else if (!waiting) {
                say("reserve %" PRIu64 " MiB %s: waiting for memory before the browser starts",
                    reserve_mib, why);
            }
        } else if (!waiting) {
            say("cannot read MemTotal, /proc/swaps or %s under %s: waiting before the browser "
                "starts", session_count->base_source, proc_name);
        }
        waiting = true;
        pause_ms(recheck_ms);
        check_x_server();
    }
}
