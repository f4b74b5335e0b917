// A stand-in browser for the demonstration where no real one can be had:
// waits for SIGUSR1 (the "page load"), then grows by 16 MiB every 50 ms up
// to the given number of MiB, touching every page, and sleeps until killed.
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
    std::signal(SIGUSR1, start_loading);
    while (!loading)
        pause();
    constexpr long step_mib = 16;
    for (long grown = 0; grown < target_mib; grown += step_mib) {
        void *chunk = std::malloc(step_mib << 20);
        if (chunk == nullptr)
            break;
        std::memset(chunk, 1, step_mib << 20);
        usleep(50000);
    }
    for (;;)
        pause();
}
