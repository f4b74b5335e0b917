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

// What the check counts, chosen once at start-up from the environment
// variable BROWSER_WATCHDOG_COUNT: unset, empty or "size", each process's
// total program size (statm); "resident", what it holds in RAM and swap
// (VmRSS plus VmSwap of its status). Any other value is invalid usage.
extern bool count_resident;

// Sets count_resident from the value of BROWSER_WATCHDOG_COUNT (nullptr
// when unset); an unknown value is fatal with invalid_usage_error.
void choose_count(const char *value);

// How the watching starts, chosen once from BROWSER_WATCHDOG_START: unset
// or empty, the first check one period after start; "held", the browser
// was started stopped and is held so until the first check, made at once,
// finds the two processes below the limit and continues it (SIGCONT). A
// first check at or above the limit leaves it stopped and shows the dialog.
// True until that release.
extern bool browser_held;

// Sets browser_held from the value of BROWSER_WATCHDOG_START (nullptr when
// unset); an unknown value is fatal with invalid_usage_error.
void choose_start(const char *value);

// Handles on the watched processes, taken at start-up, -1 where none could
// be had. A /proc/PID directory stays bound to its process: once that
// process has ended, nothing can be opened or signalled through it, even
// after its pid went to another process.
extern int x_dir;      // /proc/X_PID
extern int moz_dir;    // /proc/BROWSER_PID
extern int moz_pidfd;  // pidfd_open(BROWSER_PID), for reclaiming its memory

// True from the moment the browser is stopped until it has been sent
// SIGKILL: while it holds, the watchdog must not end without ending it.
extern bool frozen;

// Smallest limit, in KiB, that start-up accepts is one above this margin.
constexpr std::uint64_t limit_margin = 10240;

// Opens /proc/PID as a directory (close-on-exec); -1 when it cannot.
int open_process_dir(int pid);

// Whether the process that dir was opened for is still alive (a zombie
// counts): its /proc entries can still be reached through dir.
bool process_alive(int dir);

// A pidfd for pid (Linux 5.3), only while dir still names a live process,
// so that both handles are known to hold the same process; -1 otherwise.
int open_pidfd(int pid, int dir);

// Total program size in pages of the process whose /proc directory is open
// as dir: the first field of its statm. Every failure is fatal, with the
// statm messages (an ended process cannot be opened).
std::uint32_t get_process_memory(int dir);

// The same on a statm file at path, relative to dir (an absolute path
// ignores dir).
std::uint32_t read_process_memory(int dir, const char *path);

// Resident plus swapped-out memory in KiB (VmRSS plus VmSwap) of the
// process whose /proc directory is open as dir, from its status in one
// read. Every failure is fatal, with the status messages: an ended process
// cannot be opened, and a status without both fields cannot be parsed.
std::uint64_t get_process_resident(int dir);

// The same on a status file at path, relative to dir.
std::uint64_t read_process_resident(int dir, const char *path);

// Timer callback: compares the size of the X server plus the browser with
// total_memory, in the count chosen at start-up. Returns TRUE while below,
// after releasing a held browser at the first check; at or above the limit
// it logs the figures, calls memory_error() and returns FALSE so that it
// never runs again.
gboolean check_memory(gpointer unused);

// Sends sig to the process held by dir and logs "<prefix>signalling
// process PID (SIG)... " then "ok" or "failed" on the same line. Through
// pidfd_send_signal, so a process that has ended is never mistaken for
// one that took its pid; kill() only where the kernel lacks that call, and
// never to a pid of 0 or below (kill would reach a process group).
void signal_process(int pid, int dir, int sig);

// Ends the freeze: continues and kills the browser, then asks the kernel to
// reclaim its memory at once. Does nothing unless frozen, so the browser is
// signalled at most once whatever ends the freeze.
void end_browser();

// Makes sure no way out of the program leaves the browser stopped: from
// now on SIGTERM, SIGINT, SIGHUP and a lost display first end the browser,
// then end the program as they would have (the signal re-raised, status 1
// for the display).
void guard_freeze();

// Stops the browser, then builds, logs and shows the modal low-memory
// dialog, which takes the pointer and keyboard once mapped. Returns without
// waiting for the answer.
void memory_error();

// Response handler of the dialog, for every response: ends the browser
// unless that was done already, then quits the main loop. Its arguments
// are ignored.
void do_ok(GtkWidget *dialog, gint response, gpointer instance);

#endif
