// Watchdog control: start-up and the program-wide state it fixes, the
// counts, the periodic memory check and its period, the freeze of the
// browser and the low-memory dialog, and the one fatal path.
#ifndef WATCHDOG_WATCHDOG_H
#define WATCHDOG_WATCHDOG_H

#include <cstdint>

#include <gtk/gtk.h>

#include "box/box.h"
#include "procinfo/procinfo.h"

// Log prefix that begins every line the program writes.
extern const char prefix[];

// The fatal path: writes "<prefix>fatal error (<message>), exiting...\n"
// and ends the process with status 1. Nothing is unwound or closed.
[[noreturn]] void do_error(const char *message);

// do_error(error) unless error is nullptr.
void fatal_if(const char *error);

// The value of reading: its error is fatal, its warning is logged as the
// line "<prefix><warning>".
std::uint64_t value_of(const Reading &reading);

// --- Start-up (start.cpp) --------------------------------------------------

// A choice of two from the environment: false for value unset, empty or
// off, true for on; any other value is fatal with invalid_usage_error.
bool choice(const char *value, const char *off, const char *on);

// Set by start() before the main loop starts, only read afterwards.
extern int x_pid;                  // the X server
extern int moz_pid;                // the web browser
extern std::uint64_t memory_diff;  // the reserve, KiB
extern std::uint64_t swap_size;    // the swap the count takes (count->every_area), KiB
extern std::uint64_t zram_size;    // the part of it that is zram, KiB
extern std::uint64_t ram_and_swap; // RAM plus the first swap area, KiB
extern std::uint64_t total_memory; // the limit: RAM plus swap less the reserve, KiB

// Handles taken at start-up, -1 where none could be had. A /proc/PID
// directory stays bound to its process: once that process has ended,
// nothing can be opened or signalled through it, even after its pid went to
// another process.
extern int proc_dir;   // /proc
extern int x_dir;      // /proc/X_PID
extern int moz_dir;    // /proc/BROWSER_PID
extern int moz_pidfd;  // pidfd_open(BROWSER_PID), for reclaiming its memory

// Smallest limit, in KiB, that start-up accepts is one above limit_margin.

// Everything before the main loop: the command line (exactly three decimal
// arguments, else invalid usage), the environment's choices, the handles,
// the toolkit, RAM plus swap, the start-up line, the limit (fatal with
// invalid_mem_config unless it exceeds limit_margin), the dialog prepared
// where chosen, and the first check, at once for a held browser, else one
// period later. A count other than
// the default is read once before that, so that one this kernel cannot
// give ends the watchdog at start. Fatal on any failure.
void start(int &argc, char **&argv);

// --- The counts (count.cpp) ------------------------------------------------

// The row of the table of counts (procinfo) the limit is compared with,
// chosen by its name with BROWSER_WATCHDOG_COUNT: size (the default, unset
// or empty too), resident or headroom. With the headroom count, what the
// device has left is counted as RAM plus every swap area less that, so that
// the count reaches the limit exactly when what is left falls to the
// reserve; both processes' status must still be there at every check.
extern const Count *count;
extern const Count *const default_count;

// Count c now, in KiB, into memory, and each process's share into x and m
// where the count is made of them (else 0). Returns nullptr, or the message
// of what could not be read.
const char *measure_count(const Count &c, std::uint64_t &memory, std::uint64_t &x,
                          std::uint64_t &m);

// What each process holds, for the limit line of the headroom count, which
// has no shares of its own: as the resident count measures it, or VmRSS
// alone where the kernel gives no VmSwap (the headroom count runs there, and
// its limit line must not end it). The browser's is its box's, memory and
// swap, where the box's memory controller counts the whole tree.
const char *measure_held(std::uint64_t &x, std::uint64_t &m);

// Sets count from the value of BROWSER_WATCHDOG_COUNT (nullptr when
// unset); an unknown value is fatal with invalid_usage_error.
void choose_count(const char *value);

// Within this of the limit, KiB, the headroom count reads what zram has
// free from /proc/swaps, so that zram is valued at its cost where it is
// and a disk at its own; further from it, free swap is taken as zram first
// (read_device_left), which can count a third of zram less than is left,
// never more.
constexpr std::uint64_t near_kib = 16384;

// The pages a process's size is counted in, KiB: the kernel's page size.
extern std::uint64_t page_kib;

// --- The period (period.cpp) -----------------------------------------------

// The check's period: every check_period ms, or, with the period that
// shortens near the limit, as soon as the fastest growth remembered could
// carry the count overshoot_kib past the limit, but never sooner than
// check_period_min ms after the last check.
constexpr int check_period = 3000;
constexpr int check_period_min = 100;
constexpr std::uint64_t overshoot_kib = 1024;
// How long the fastest growth seen takes to fade to half while the count is
// quiet (grows at less than a sixteenth of it): long beside the pauses of a
// browser between two parts of a page, short beside a device at rest. While
// the count still grows, even slowly, nothing fades: a browser that burst
// once may burst again near the limit.
constexpr std::uint64_t growth_half_life_ms = 10000;
constexpr std::uint64_t quiet_fraction = 16;

// Whether the period shortens near the limit, chosen once from
// BROWSER_WATCHDOG_PERIOD: unset, empty or "fixed", every check_period ms;
// "adaptive", shorter near the limit. Any other value is invalid usage.
extern bool period_adaptive;
void choose_period(const char *value);

// What the adaptive period has seen: the count at the last check and when
// it was taken (monotonic ms, -1 before the first), and the fastest growth
// it remembers, KiB per second.
struct Growth {
    std::uint64_t memory;
    std::int64_t ms;
    std::uint64_t fastest;
};
constexpr Growth nothing_seen{0, -1, 0};

// The ms until the next check after one made at now_ms that found the count
// at memory, below limit; records that check in seen. A growth between two
// checks faster than what is remembered replaces it; a quiet check lets
// what is remembered fade, halving every growth_half_life_ms; any other
// keeps it. So a burst is forgotten within seconds of rest far from the
// limit, while near it a pause of a few seconds, or a browser that still
// grows, keeps the checks close.
guint next_period(Growth &seen, std::uint64_t memory, std::uint64_t limit, std::int64_t now_ms);

// --- The check (check.cpp) -------------------------------------------------

// How the watching starts, chosen once from BROWSER_WATCHDOG_START: unset
// or empty, the first check one period after start; "held", the browser
// was started stopped and is held so until the first check, made at once,
// finds the two processes below the limit and continues it (SIGCONT). A
// first check at or above the limit leaves it stopped and shows the dialog.
// A release that cannot be sent is fatal (held_release_error): the browser
// is never left held by a watchdog that goes on. True until that release.
extern bool browser_held;
extern const char held_release_error[];
void choose_start(const char *value);

// Timer callback: compares the chosen count with total_memory. Below the
// limit it releases a held browser and returns TRUE to be called again
// after check_period, or, with the adaptive period, arms the next check
// itself and returns FALSE. At or above the limit it logs the figures,
// calls memory_error() and returns FALSE so that it never runs again. A
// count that cannot be read is fatal.
gboolean check_memory(gpointer unused);

// The timer of the next check, 0 once the limit was reached.
extern guint next_check;

// --- The memory pressure trigger (pressure.cpp) -----------------------------

// With the adaptive period, while checks go on: where a memory pressure
// trigger can be had (open_pressure_trigger), a stall on memory runs the
// next check at once, in place of its timer. Where none can be had, or
// once the trigger is gone, the period works alone. Nothing is logged.
void watch_pressure();

// --- The watched processes (process.cpp, signal.cpp) -----------------------

// Opens /proc/PID as a directory (close-on-exec); -1 when it cannot.
int open_process_dir(int pid);

// Whether the process that dir was opened for is still alive (a zombie
// counts): its /proc entries can still be reached through dir.
bool process_alive(int dir);

// A pidfd for pid (Linux 5.3), only while dir still names a live process,
// so that both handles are known to hold the same process; -1 otherwise.
int open_pidfd(int pid, int dir);

// Sends sig to the process held by dir and logs "<prefix>signalling
// process PID (SIG)... " then "ok" or "failed" on the same line; true when
// it was sent. Through pidfd_send_signal, so a process that has ended is
// never mistaken for one that took its pid; kill() only where that call is
// refused (a kernel that lacks it, a policy that forbids it), while dir
// still names a live process, and never to a pid of 0 or below (kill
// would reach a process group).
bool signal_process(int pid, int dir, int sig);

// --- The browser's box (box.cpp) -------------------------------------------

// The box of the browser's whole tree, chosen once from
// BROWSER_WATCHDOG_BOX (box_open): unset or empty, none, the browser alone
// is watched and signalled; else the box the session made, which must hold
// the browser (invalid usage otherwise). It is frozen right after the
// browser's SIGSTOP and killed right after its SIGKILL.
extern Box box;
void choose_box(const char *value);

// The tripwire, where the box has a memory controller: a boundary in the
// box's memory at the point where the count would reach its limit (what the
// box holds now plus the count's distance to the limit), kept current at
// every check below the limit and written again only when that point has
// moved by tripwire_slack_kib or more, never below what the box holds.
// Crossing it wakes the next check at once: v2, memory.high (which also
// slows the box past it) watched through memory.events, on what the box
// holds in RAM, which a swap-out lowers and the next check follows; v1, a
// usage threshold of memory and swap on an eventfd. Its files stay open
// between checks, so that a check costs one read more.
extern BoxMemory box_memory;
constexpr std::uint64_t tripwire_slack_kib = 256;
void set_tripwire(std::uint64_t memory, std::uint64_t limit);

// --- The freeze (freeze.cpp, guard.cpp) ------------------------------------

// True from the moment the browser is stopped until it has been sent
// SIGKILL: while it holds, the watchdog must not end without ending it.
extern bool frozen;

// Guards every way out of the program, then stops the browser (SIGSTOP)
// and freezes its box.
void freeze_browser();

// Ends the freeze: continues and kills the browser, kills its box, then
// asks the kernel to reclaim its memory at once. Does nothing unless
// frozen, so the browser is signalled at most once whatever ends the
// freeze.
void end_browser();

// Makes sure no way out of the program leaves the browser stopped: from
// now on SIGTERM, SIGINT, SIGHUP and a lost display first end the browser,
// then end the program as they would have (the signal re-raised, status 1
// for the display).
void guard_freeze();

// --- The dialog (dialog.cpp) -----------------------------------------------

// When the dialog is built, chosen once from BROWSER_WATCHDOG_DIALOG:
// unset, empty or "plain", at the act; "ready", in advance, at start
// before the first check, so that the act itself allocates as little as it
// can. Any other value is invalid usage.
extern bool dialog_ready;
void choose_dialog(const char *value);

// With dialog_ready, once: builds the dialog without showing it, lays out
// its text and icon and draws them off screen, so that fonts, glyphs, icon
// and theme are loaded, then locks the program's anonymous memory where it
// lies in RAM (where the kernel and the lock limit allow it), so that it
// is not swapped out before the act. Does nothing after the dialog was
// shown.
void prepare_dialog();

// Builds (unless prepared), logs and shows the modal low-memory dialog,
// which takes the pointer and keyboard once mapped. Returns without
// waiting for the answer.
void show_dialog();

// The reaction to the limit: freeze_browser(), then show_dialog().
void memory_error();

// Response handler of the dialog, for every response: ends the browser
// unless that was done already, then quits the main loop. Its arguments
// are ignored.
void do_ok(GtkWidget *dialog, gint response, gpointer instance);

#endif
