// Program-wide state of the watchdog.
#include "watchdog/watchdog.h"

int x_pid;
int moz_pid;
std::uint64_t memory_diff;
std::uint64_t total_memory;
const int check_period = 3000;
bool count_resident;
bool browser_held;

int x_dir = -1;
int moz_dir = -1;
int moz_pidfd = -1;
bool frozen;
