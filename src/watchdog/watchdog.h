// Watchdog control: the program-wide state fixed at start-up, the periodic
// memory check, and the reaction to an exceeded limit.
#ifndef WATCHDOG_WATCHDOG_H
#define WATCHDOG_WATCHDOG_H

#include <cstdint>

#include <gtk/gtk.h>

// Set by main before the main loop starts, only read afterwards.
extern int x_pid;                  // the X server
extern int moz_pid;                // the web browser
extern std::uint64_t memory_diff;  // the reserve, KiB
extern std::uint64_t total_memory; // RAM plus swap, KiB; then the limit
extern const int check_period;     // ms between two checks

// Smallest limit, in KiB, that start-up accepts is one above this margin.
constexpr std::uint64_t limit_margin = 10240;

// Total program size of pid in pages: the first field of /proc/PID/statm.
// Every failure is fatal, with the statm messages.
std::uint32_t get_process_memory(int pid);

// The same on a statm file at any path.
std::uint32_t read_process_memory(const char *path);

// Timer callback: compares the size of the X server plus the browser with
// total_memory. Returns TRUE while below; at or above the limit it logs the
// figures, calls memory_error() and returns FALSE so that it never runs
// again.
gboolean check_memory(gpointer unused);

// Sends sig to pid and logs "<prefix>signalling process PID (SIG)... " then
// "ok" or "failed" on the same line. A pid of 0 or below is never
// signalled (kill would reach a whole process group): it logs "failed".
void signal_process(int pid, int sig);

// Stops the browser, then builds, logs and shows the modal low-memory
// dialog. Returns without waiting for the answer.
void memory_error();

// Response handler of the dialog, for every response: continues and kills
// the browser, then quits the main loop. Its arguments are ignored.
void do_ok(GtkWidget *dialog, gint response, gpointer instance);

#endif
