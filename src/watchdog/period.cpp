// The check's period: fixed, or shortened near the limit so that the
// fastest growth seen cannot carry the count far past it before the next
// check.
#include <cstring>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

bool period_adaptive;

namespace {

// The count at the last check, when it was taken, and the fastest growth
// seen between two checks, in KiB per second.
std::uint64_t last_memory;
gint64 last_ms = -1;
std::uint64_t fastest;

} // namespace

void choose_period(const char *value)
{
    if (value == nullptr || *value == '\0' || std::strcmp(value, "fixed") == 0)
        period_adaptive = false;
    else if (std::strcmp(value, "adaptive") == 0)
        period_adaptive = true;
    else
        do_error(invalid_usage_error);
}

guint next_period(std::uint64_t memory)
{
    if (!period_adaptive)
        return check_period;
    const gint64 now = g_get_monotonic_time() / 1000;
    if (last_ms >= 0 && now > last_ms && memory > last_memory) {
        const std::uint64_t rate =
            (memory - last_memory) * 1000 / static_cast<std::uint64_t>(now - last_ms);
        if (rate > fastest)
            fastest = rate;
    }
    last_memory = memory;
    last_ms = now;
    if (fastest == 0)
        return check_period;
    // memory is below the limit: the time the fastest growth takes to carry
    // it overshoot_kib past it.
    const std::uint64_t reach_ms = (total_memory - memory + overshoot_kib) * 1000 / fastest;
    if (reach_ms < static_cast<std::uint64_t>(check_period_min))
        return check_period_min;
    if (reach_ms > static_cast<std::uint64_t>(check_period))
        return check_period;
    return static_cast<guint>(reach_ms);
}
