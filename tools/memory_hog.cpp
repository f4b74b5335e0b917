// A stand-in browser for the demonstration and the benchmarks, where no
// real one can be had or a steady growth is wanted:
//
//   memory-hog [TARGET_MIB [STEP_MIB [INTERVAL_MS]]]
//
// waits for SIGUSR1 (the "page load"), then grows by STEP_MIB (default 16)
// every INTERVAL_MS (default 50) up to TARGET_MIB (default 300), touching
// every page, and sleeps until killed.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t loading = 0;
void start_loading(int) { loading = 1; }
} // namespace

int main(int argc, char *argv[])
{
    const long target_mib = argc > 1 ? std::atol(argv[1]) : 300;
    const long step_mib = argc > 2 ? std::atol(argv[2]) : 16;
    const long interval_ms = argc > 3 ? std::atol(argv[3]) : 50;
    if (target_mib < 0 || step_mib <= 0 || interval_ms < 0)
        return 2;
    std::signal(SIGUSR1, start_loading);
    while (!loading)
        pause();
    for (long grown = 0; grown < target_mib; grown += step_mib) {
        void *chunk = std::malloc(static_cast<std::size_t>(step_mib) << 20);
        if (chunk == nullptr)
            break;
        std::memset(chunk, 1, static_cast<std::size_t>(step_mib) << 20);
        usleep(static_cast<useconds_t>(interval_ms * 1000));
    }
    for (;;)
        pause();
}
