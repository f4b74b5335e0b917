// The adaptive period as a function of the count, the time and what it has
// seen: one row per case.
#include <gtest/gtest.h>

#include "watchdog/watchdog.h"

namespace {

constexpr std::uint64_t limit = 100000;

struct PeriodCase {
    const char *what;
    Growth seen;
    std::uint64_t memory;
    std::int64_t now_ms;
    guint period;
    std::uint64_t fastest;  // remembered afterwards
};

TEST(Period, OneCaseARow)
{
    const PeriodCase cases[] = {
        {"first check: nothing to compare", nothing_seen, 90000, 5000, 3000, 0},
        {"no growth", {90000, 0, 0}, 90000, 3000, 3000, 0},
        {"slow growth far from the limit", {0, 0, 0}, 1000, 1000, 3000, 1000},
        // 10240 KiB/s, 11264 KiB from the limit plus the overshoot.
        {"fast growth near the limit", {79520, 0, 0}, 89760, 1000, 1100, 10240},
        {"so near the limit that the floor holds", {99000, 0, 0}, 99990, 10, 100, 99000},
        {"a growth faster than remembered replaces it", {80000, 0, 1000}, 90000, 1000, 1102,
         10000},
        {"a slower growth keeps it", {80000, 0, 8000}, 81000, 1000, 2503, 8000},
        {"a growth under a sixteenth of it is quiet", {90000, 0, 16000}, 90500, 10000, 1315,
         8000},
        {"10 s of quiet halve what is remembered", {90000, 0, 8000}, 90000, 10000, 2756, 4000},
        {"1 s of quiet takes a twentieth", {90000, 0, 6000}, 90000, 1000, 1934, 5700},
        {"a shrinking count is quiet", {95000, 0, 8000}, 90000, 10000, 2756, 4000},
        {"a long quiet forgets it all", {90000, 0, 8000}, 90000, 300000, 3000, 0},
        {"no time between two checks: nothing learnt", {90000, 1000, 8000}, 95000, 1000, 753,
         8000},
        {"at the limit: the overshoot alone", {97952, 0, 2048}, limit, 1000, 500, 2048},
    };
    for (const PeriodCase &c : cases) {
        Growth seen = c.seen;
        EXPECT_EQ(next_period(seen, c.memory, limit, c.now_ms), c.period) << c.what;
        EXPECT_EQ(seen.fastest, c.fastest) << c.what;
        EXPECT_EQ(seen.memory, c.memory) << c.what;
        EXPECT_EQ(seen.ms, c.now_ms) << c.what;
    }
}

// A burst of 40 MiB, then the count at rest 20 MiB below the limit: back to
// one check per period within 30 s, and it stays there.
TEST(Period, ABurstIsForgottenWithinThirtySecondsOfQuiet)
{
    const std::uint64_t rest = limit - 20480;
    Growth seen = nothing_seen;
    std::int64_t now = 0;
    next_period(seen, rest - 40960, limit, now);
    now += check_period;
    guint period = next_period(seen, rest, limit, now);
    EXPECT_LT(period, static_cast<guint>(check_period)) << "the burst was not seen";
    const std::int64_t quiet_from = now;
    while (period < static_cast<guint>(check_period) && now - quiet_from <= 30000) {
        now += period;
        period = next_period(seen, rest, limit, now);
    }
    EXPECT_EQ(period, static_cast<guint>(check_period));
    EXPECT_LE(now - quiet_from, 30000);
    for (int i = 0; i < 10; ++i) {
        now += period;
        period = next_period(seen, rest, limit, now);
        EXPECT_EQ(period, static_cast<guint>(check_period));
    }
}

// A pause near the limit, as a browser's between two parts of a page, does
// not forget the growth: after 3 s the checks are still close, so that the
// next part meets a short period.
TEST(Period, APauseNearTheLimitKeepsTheChecksClose)
{
    Growth seen = {limit - 2048 - 10240, 0, 0};
    std::int64_t now = 1000;
    guint period = next_period(seen, limit - 2048, limit, now);
    EXPECT_EQ(period, 300u);
    const std::int64_t quiet_from = now;
    while (now - quiet_from < 3000) {
        now += period;
        period = next_period(seen, limit - 2048, limit, now);
    }
    EXPECT_LT(period, 500u);
}

// A burst far from the limit, then a slower climb towards it: the burst is
// kept, so that a second one just below the limit meets short checks, as a
// browser that burst once may burst again.
TEST(Period, ABurstIsKeptWhileTheCountStillGrows)
{
    constexpr std::uint64_t device_limit = 200000;
    Growth seen = nothing_seen;
    std::uint64_t memory = device_limit - 150000;
    std::int64_t now = 0;
    next_period(seen, memory, device_limit, now);
    now += 1000;
    memory += 25600;  // 25 MiB in a second
    guint period = next_period(seen, memory, device_limit, now);
    int checks = 0;
    while (memory + 2048 < device_limit) {
        now += period;
        memory += static_cast<std::uint64_t>(period) * 2600 / 1000;  // 2.6 MiB/s
        period = next_period(seen, memory, device_limit, now);
        ++checks;
    }
    EXPECT_GT(checks, 20);
    EXPECT_EQ(seen.fastest, 25600u);
    // About 2 MiB below: the burst would cross the limit and 1 MiB in
    // about 120 ms.
    EXPECT_LE(period, 130u);
}

// A steady growth is not forgotten: the period keeps shortening as the
// count nears the limit.
TEST(Period, ASteadyGrowthIsKept)
{
    Growth seen = nothing_seen;
    std::uint64_t memory = limit - 30000;
    std::int64_t now = 0;
    guint period = next_period(seen, memory, limit, now);
    guint last = period;
    while (memory + 2000 < limit) {
        now += period;
        memory += static_cast<std::uint64_t>(period) * 5;  // 5000 KiB/s
        period = next_period(seen, memory, limit, now);
        EXPECT_LE(period, last);
        last = period;
    }
    EXPECT_EQ(seen.fastest, 5000u);
    EXPECT_LT(period, 1000u);
}

} // namespace
