// The check's period: fixed, or shortened near the limit so that the
// fastest growth remembered cannot carry the count far past it before the
// next check.
#include <cstring>

#include "watchdog/watchdog.h"

bool period_adaptive;

void choose_period(const char *value)
{
    period_adaptive = choice(value, "fixed", "adaptive");
}

namespace {

// What is remembered of a growth after elapsed_ms of quiet:
// halved for every growth_half_life_ms, and in between less by a straight
// line, which never forgets faster than halving would.
std::uint64_t forget(std::uint64_t fastest, std::uint64_t elapsed_ms)
{
    const std::uint64_t halvings = elapsed_ms / growth_half_life_ms;
    if (halvings >= 64)
        return 0;
    fastest >>= halvings;
    const std::uint64_t rest = elapsed_ms % growth_half_life_ms;
    return fastest - fastest * rest / (2 * growth_half_life_ms);
}

} // namespace

guint next_period(Growth &seen, std::uint64_t memory, std::uint64_t limit, std::int64_t now_ms)
{
    if (seen.ms >= 0 && now_ms > seen.ms) {
        const auto elapsed_ms = static_cast<std::uint64_t>(now_ms - seen.ms);
        const std::uint64_t rate =
            memory > seen.memory ? (memory - seen.memory) * 1000 / elapsed_ms : 0;
        if (rate > seen.fastest)
            seen.fastest = rate;
        else if (rate < seen.fastest / quiet_fraction)
            seen.fastest = forget(seen.fastest, elapsed_ms);
    }
    seen.memory = memory;
    seen.ms = now_ms;
    if (seen.fastest == 0)
        return check_period;
    // The time the fastest growth takes to carry the count overshoot_kib
    // past the limit.
    const std::uint64_t distance = (memory < limit ? limit - memory : 0) + overshoot_kib;
    const std::uint64_t reach_ms = distance * 1000 / seen.fastest;
    if (reach_ms < static_cast<std::uint64_t>(check_period_min))
        return check_period_min;
    if (reach_ms > static_cast<std::uint64_t>(check_period))
        return check_period;
    return static_cast<guint>(reach_ms);
}
