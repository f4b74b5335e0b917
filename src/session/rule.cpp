// The rule of the reserve: a pure function of the device's figures, the
// count and the reserve given. docs/reserve.md says why each part is what
// it is.
#include "session/session.h"

namespace {

// With the headroom count the margin covers only the browser's growth past
// the limit before the check that sees it: about 1 MiB by the period, more
// in a burst faster than any growth seen before. Where its box holds a
// tripwire at the limit, what the tripwire lets through: the kernel wakes
// the watchdog as the box crosses it, and slows the box past it.
constexpr std::int64_t margin_headroom_kib = 5120;
constexpr std::int64_t margin_tripwire_kib = 1024;
// With a count of the processes: what happens after the limit is crossed,
// and what the count does not see. With swap that is most of it, since a
// page swapped in again keeps its slot until freed, so the device holds
// more than the count says; without swap there is less of it, and less to
// spare.
constexpr std::int64_t margin_swap_kib = 30720;
constexpr std::int64_t margin_no_swap_kib = 16384;

std::int64_t kib(std::uint64_t mib)
{
    return static_cast<std::int64_t>(mib) * 1024;
}

// What the rule starts from: RAM plus swap, the room the reserve is taken
// from, and the least reserve the count can reach. What the device has
// left never falls below what the kernel keeps of it before its OOM killer
// acts, and what the processes hold never rises above the rest; the
// program size counts more than the processes hold, and has no least.
Reserve start(const Figures &f, const Count &c)
{
    Reserve r{};
    r.total = static_cast<std::int64_t>(f.ram + f.swap);
    if (c.kind == CountKind::headroom)
        r.base = static_cast<std::int64_t>(f.left);
    else
        r.base = f.x_count < f.ram + f.swap ? r.total - static_cast<std::int64_t>(f.x_count) : 0;
    r.least = c.kind == CountKind::size ? 0 : f.keep;
    return r;
}

// What reserve r leaves, and whether the watchdog takes it: a limit above
// limit_margin, and browser_min_kib of room for the browser.
void fit(Reserve &r)
{
    r.limit = r.total - kib(r.mib);
    r.room = r.base - kib(r.mib);
    if (kib(r.mib) + static_cast<std::int64_t>(limit_margin) >= r.total)
        r.refusal = Refusal::no_limit;
    else if (r.room < browser_min_kib)
        r.refusal = Refusal::no_room;
    else
        r.refusal = Refusal::none;
}

// The rule's reserve, KiB: kept in hand, plus the kernel's own and a
// margin with the headroom count, plus what is in use at rest and a margin
// less the X server's count with a count of the processes.
std::int64_t rule_kib(const Figures &f, const Count &c, Reserve &r)
{
    if (c.kind == CountKind::headroom) {
        // Swap takes a burst in its stride; without it the device has only
        // RAM. zram is worth what the count counts it at: what filling it
        // gives back.
        const std::uint64_t worth = f.ram + f.swap - f.zram + zram_worth(f.zram);
        r.floor = f.swap > 0 ? worth / 4 : f.ram / 6;
        r.margin = f.tripwire ? margin_tripwire_kib : margin_headroom_kib;
        return static_cast<std::int64_t>(r.floor + f.keep + r.margin);
    }
    r.floor = f.swap > 0 ? (f.ram + f.swap) / 4 : f.ram / 6;
    r.margin = f.swap > 0 ? margin_swap_kib : margin_no_swap_kib;
    const std::int64_t chosen = static_cast<std::int64_t>(r.floor + f.in_use + r.margin) -
                                static_cast<std::int64_t>(f.x_count);
    return chosen > 0 ? chosen : 1024;
}

} // namespace

Reserve settle(const Figures &f, const Count &c, const std::uint64_t *given_mib)
{
    Reserve r = start(f, c);
    if (given_mib != nullptr) {
        r.mib = r.rule_mib = *given_mib;
        fit(r);
        if (r.refusal == Refusal::none && kib(r.mib) <= static_cast<std::int64_t>(r.least))
            r.refusal = Refusal::below_least;
        return r;
    }
    r.mib = r.rule_mib = static_cast<std::uint64_t>((rule_kib(f, c, r) + 1023) / 1024);
    // A reserve that leaves the browser too little room would stop it at
    // once, again and again: the browser is given the least room, from the
    // reserve, down to the least the count can reach; below that, none.
    const std::int64_t most = (r.base - browser_min_kib) / 1024;
    const auto least_mib = static_cast<std::int64_t>(r.least / 1024 + 1);
    if (static_cast<std::int64_t>(r.mib) > most) {
        if (most < 1 || most < least_mib) {
            fit(r);
            r.refusal = Refusal::no_room_left;
            return r;
        }
        r.mib = static_cast<std::uint64_t>(most);
    }
    fit(r);
    return r;
}

Reserve refit(const Figures &f, const Count &c, std::uint64_t mib)
{
    Reserve r = start(f, c);
    r.mib = r.rule_mib = mib;
    fit(r);
    return r;
}
