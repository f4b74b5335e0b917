// Program-wide state of the watchdog.
#include "watchdog/watchdog.h"

int x_pid;
int moz_pid;
std::uint64_t memory_diff;
std::uint64_t swap_size;
std::uint64_t ram_and_swap;
std::uint64_t total_memory;
bool browser_held;

int x_dir = -1;
int moz_dir = -1;
int moz_pidfd = -1;
bool frozen;
