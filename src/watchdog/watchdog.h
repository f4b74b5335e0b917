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
extern std::uint64_t swap_size;    // the first swap area, KiB
extern std::uint64_t ram_and_swap; // RAM plus the first swap area, KiB
extern std::uint64_t total_memory; // the limit: RAM plus swap less the reserve, KiB

// The check's period: every check_period ms, or, with the period that
// shortens near the limit, as soon as the fastest growth seen between two
// checks could carry the count overshoot_kib past the limit, but never
// sooner than check_period_min ms after the last.
constexpr int check_period = 3000;
constexpr int check_period_min = 100;
constexpr std::uint64_t overshoot_kib = 1024;

// One way of counting the X server and the browser against the limit: one
// row of counts[]. A count of the processes reads its file of each through
// the process's /proc directory and adds the two shares; a count of the
// device reads the device's file and counts RAM plus swap less what that
// says is left.
struct Count {
    const char *name;  // its value of BROWSER_WATCHDOG_COUNT
    const char *file;  // read at every check: a process's, or the device's
    bool of_device;
    // KiB from the text read; message when it cannot be taken apart.
    std::uint64_t (*parse)(char *text, const char *message);
    // The messages of a file that cannot be opened (a process that is
    // gone), read, or taken apart.
    const char *const *open_error;
    const char *const *read_error;
    const char *const *parse_error;
};

// The counts, chosen with BROWSER_WATCHDOG_COUNT:
//   size      each process's total program size (first field of statm, in
//             pages of the kernel's size), the default (unset or empty too);
//   resident  what each holds in RAM and swap (VmRSS plus VmSwap of its
//             status);
//   headroom  what the device has left (parse_device_left), counted as RAM
//             plus swap less that, so that the count reaches the limit
//             exactly when what is left falls to the reserve. Both
//             processes' status must still be there at every check; the
//             limit line gives what each holds, as the resident count does.
extern const Count counts[3];
extern const Count *count;  // the one chosen at start-up

// Sets count from the value of BROWSER_WATCHDOG_COUNT (nullptr when
// unset); an unknown value is fatal with invalid_usage_error.
void choose_count(const char *value);

// The chosen count now, in KiB. A count of the processes leaves their
// shares in x and m; a count of the device leaves them 0.
std::uint64_t measure(std::uint64_t &x, std::uint64_t &m);

// What each process holds (the resident count's shares) into x and m: the
// figures a count of the device gives in its limit line.
void read_shares(std::uint64_t &x, std::uint64_t &m);

// Whether the period shortens near the limit, chosen once from
// BROWSER_WATCHDOG_PERIOD: unset, empty or "fixed", every check_period ms;
// "adaptive", shorter near the limit (see check_period). Any other value
// is invalid usage.
extern bool period_adaptive;

// Sets period_adaptive from the value of BROWSER_WATCHDOG_PERIOD (nullptr
// when unset); an unknown value is fatal with invalid_usage_error.
void choose_period(const char *value);

// The ms until the next check, after one that found the count at memory
// (below the limit): check_period unless the period is adaptive.
guint next_period(std::uint64_t memory);

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

// Timer callback: compares the count chosen at start-up with total_memory.
// Below the limit it releases a held browser at the first check and returns
// TRUE to be called again after check_period, or, with the adaptive
// period, arms the next check itself and returns FALSE. At or above the
// limit it logs the figures, calls memory_error() and returns FALSE so that
// it never runs again.
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
