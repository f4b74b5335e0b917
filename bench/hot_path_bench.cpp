// Cost of the work the watchdog does at start and at every check.
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

namespace {

void open_proc()
{
    if (proc_dir < 0)
        proc_dir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void read_process_pages_live(benchmark::State &state)
{
    const int self = open_process_dir(getpid());
    for (auto _ : state)
        benchmark::DoNotOptimize(read_process_pages(self));
    close(self);
}
BENCHMARK(read_process_pages_live);

// The whole check of a count, far below the limit, every time.
void check_below_limit(benchmark::State &state, const char *name)
{
    open_proc();
    x_dir = open_process_dir(getpid());
    moz_dir = open_process_dir(getppid());
    ram_and_swap = UINT64_MAX;
    total_memory = UINT64_MAX;
    count = find_count(name);
    for (auto _ : state)
        benchmark::DoNotOptimize(check_memory(nullptr));
    count = find_count("size");
    close(x_dir);
    close(moz_dir);
}
BENCHMARK_CAPTURE(check_below_limit, size, "size");
BENCHMARK_CAPTURE(check_below_limit, headroom, "headroom");

void read_device_left_proc(benchmark::State &state)
{
    open_proc();
    for (auto _ : state)
        benchmark::DoNotOptimize(read_device_left(proc_dir, 0));
}
BENCHMARK(read_device_left_proc);

void read_ram_size_proc(benchmark::State &state)
{
    open_proc();
    for (auto _ : state)
        benchmark::DoNotOptimize(read_ram_size(proc_dir));
}
BENCHMARK(read_ram_size_proc);

void read_swap_size_proc(benchmark::State &state)
{
    open_proc();
    for (auto _ : state)
        benchmark::DoNotOptimize(read_swap_size(proc_dir));
}
BENCHMARK(read_swap_size_proc);

void parse_number_statm_field(benchmark::State &state)
{
    std::uint32_t value = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(parse_number("1234567", value));
}
BENCHMARK(parse_number_statm_field);

} // namespace

BENCHMARK_MAIN();
