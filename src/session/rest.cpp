// The device at rest, for the counts of the processes.
#include "session/session.h"

bool read_rest(std::uint64_t &in_use, std::uint64_t &x_count)
{
    constexpr int samples_agreeing = 5;
    constexpr std::uint64_t agree_kib = 256;
    constexpr int most_samples = 60;
    constexpr int sample_ms = 500;
    std::uint64_t last[samples_agreeing] = {};
    std::uint64_t best = UINT64_MAX;
    std::uint64_t best_x = 0;
    for (int n = 0; n < most_samples; ++n) {
        const Reading used = read_in_use(proc);
        if (used.error != nullptr || !read_x_count(x_count))
            return false;
        if (used.value < best) {
            best = used.value;
            best_x = x_count;
        }
        last[n % samples_agreeing] = used.value;
        if (n + 1 >= samples_agreeing) {
            std::uint64_t lo = UINT64_MAX;
            std::uint64_t hi = 0;
            for (const std::uint64_t v : last) {
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
            if (hi - lo <= agree_kib) {
                in_use = used.value;
                return true;
            }
        }
        // cppcheck-suppress knownConditionTrueFalse
        if (n + 1 < most_samples)
            pause_ms(sample_ms);
    }
    say("memory in use not steady over 30 s: taking the least seen");
    in_use = best;
    x_count = best_x;
    return true;
}
