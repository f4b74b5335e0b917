// Cost of the work the watchdog does at start and at every check.
#include <cstdint>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

namespace {

void get_process_memory_live(benchmark::State &state)
{
    const int self = open_process_dir(getpid());
    for (auto _ : state)
        benchmark::DoNotOptimize(get_process_memory(self));
    close(self);
}
BENCHMARK(get_process_memory_live);

void check_memory_below_limit(benchmark::State &state)
{
    x_dir = open_process_dir(getpid());
    moz_dir = open_process_dir(getppid());
    total_memory = UINT64_MAX;  // never reached: the whole check, every time
    for (auto _ : state)
        benchmark::DoNotOptimize(check_memory(nullptr));
}
BENCHMARK(check_memory_below_limit);

void check_memory_headroom_below_limit(benchmark::State &state)
{
    x_dir = open_process_dir(getpid());
    moz_dir = open_process_dir(getppid());
    ram_and_swap = UINT64_MAX;
    total_memory = UINT64_MAX;
    count = &counts[2];
    for (auto _ : state)
        benchmark::DoNotOptimize(check_memory(nullptr));
    count = &counts[0];
}
BENCHMARK(check_memory_headroom_below_limit);

void get_device_left_proc(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(get_device_left(0));
}
BENCHMARK(get_device_left_proc);

void get_ram_size_proc(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(get_ram_size());
}
BENCHMARK(get_ram_size_proc);

void get_swap_size_proc(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(get_swap_size());
}
BENCHMARK(get_swap_size_proc);

void parse_number_statm_field(benchmark::State &state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse_number("1234567", statm_parse_error));
    }
}
BENCHMARK(parse_number_statm_field);

} // namespace

BENCHMARK_MAIN();
