// browser-session: the web browser on this X server, watched by
// browser-watchdog, started again whenever it ends.
//
//   xinit /usr/bin/browser-session -- :0
#include <cinttypes>
#include <cstdlib>

#include "session/session.h"

namespace {

// A browser that ran less than this failed to start: the pause before the
// next doubles, up to pause_most_s.
constexpr std::uint64_t quick_s = 5;
constexpr int pause_most_s = 30;

} // namespace

int main()
{
    take_signals();
    read_settings();
    Reserve reserve = settle_reserve();

    int pause_s = 1;
    for (;;) {
        check_x_server();
        std::uint64_t ran_s = 0;
        const Outcome outcome = run_browser(reserve.mib, ran_s);
        if (settings.once)
            return outcome == Outcome::ran ? 0 : 1;
        check_x_server();
        if (outcome == Outcome::stopped_at_start)
            say("the watchdog found the limit reached before the browser ran: waiting for "
                "memory before it starts again");
        // A browser that cannot start would otherwise be started once a
        // second for ever: back off, and come back to a short pause once
        // one has run.
        if (ran_s < quick_s) {
            pause_s = pause_s * 2 < pause_most_s ? pause_s * 2 : pause_most_s;
            say("the browser ended %" PRIu64 " s after its start: starting it again in %d s",
                ran_s, pause_s);
        } else {
            pause_s = 1;
        }
        pause_ms(pause_s * 1000);
        reserve = fit_limit(reserve);
    }
}
