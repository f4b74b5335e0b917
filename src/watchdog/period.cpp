// The check's period: fixed, or shortened near the limit so that the
// fastest growth remembered cannot carry the count far past it before the
// next check.
#include <cstring>

#include "watchdog/watchdog.h"

bool period_adaptive;

void choose_period(const char *value)
{
    if (value == nullptr || *value == '\0' || std::strcmp(value, "fixed") == 0)
        period_adaptive = false;
    else if (std::strcmp(value, "adaptive") == 0)
        period_adaptive = true;
    else
        do_error(invalid_usage_error);
}

guint next_period(Growth &seen, std::uint64_t memory, std::uint64_t limit, std::int64_t now_ms)
{
    if (seen.ms >= 0 && now_ms > seen.ms) {
        const std::uint64_t rate =
            memory > seen.memory
                ? (memory - seen.memory) * 1000 / static_cast<std::uint64_t>(now_ms - seen.ms)
                : 0;
        // A burst is remembered while it lasts, and forgotten in halves.
        const std::uint64_t halved = seen.fastest / 2;
        seen.fastest = rate >= seen.fastest ? rate : (rate > halved ? rate : halved);
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
