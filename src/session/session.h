// The X session of an appliance: the web browser, watched by
// browser-watchdog, started again whenever it ends. Its settings, the X
// server it runs on, the reserve it gives the watchdog, and the browser's
// life: started held, released by the watchdog's first check, ended with
// the watchdog, the X server and the session itself.
#ifndef SESSION_SESSION_H
#define SESSION_SESSION_H

#include <cstdint>
#include <csignal>
#include <sys/types.h>

#include "procinfo/procinfo.h"

// --- What the session says (say.cpp) ---------------------------------------

// Writes "browser-session: <text>\n" on stderr, in one write.
void say(const char *format, ...) __attribute__((format(printf, 1, 2)));

// says, then ends the session with status 1: nothing was started.
[[noreturn]] void refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));

// --- Where the lines go (log.cpp) -------------------------------------------

// SESSION_LOG: stdout (the default), the session's lines on stderr and its
// watchdogs' on its standard output; syslog, each line one message of the
// system log, tagged browser-session or browser-watchdog, through a
// forwarder process that reads the watchdogs' lines from the pipe
// watchdog_log (-1 otherwise). Refuses any other value.
extern bool to_syslog;
extern int watchdog_log;
void start_log();

// --- Settings (defaults.cpp, settings.cpp) ---------------------------------

// The integrator's file of settings (SESSION_SETTINGS names another): lines
// NAME=VALUE, blank lines and # comments; each value, taken as it stands,
// is the default of a variable the session reads, for any the environment
// leaves unset or empty. A missing file is no settings. Returns why the
// file or one of its lines (by number) cannot be read, having taken every
// line that can; nullptr when all could.
constexpr char default_settings_file[] = "/etc/default/browser-session";

// The environment's value of name, or fallback where it is unset or empty.
const char *setting(const char *name, const char *fallback);
const char *read_defaults_file();

// BROWSER (default: dillo), split into words at blanks, never expanded,
// and START_PAGE, when set, as one word more; browser_command is BROWSER
// as given.
extern const char *browser_command;
extern char *browser_argv[];

// A count the watchdog takes (BROWSER_WATCHDOG_COUNT, default headroom):
// its name, whether its total takes every swap area or the first only, and
// the words that name what a reserve is taken from.
struct SessionCount {
    const char *name;
    bool every_area;
    const char *base_source;
};
extern const SessionCount *session_count;
bool counts_headroom();

// The /proc the figures are read from (SESSION_PROC, default /proc), as a
// directory handle, and its name.
extern int proc;
extern const char *proc_name;

// SESSION_ONCE: one browser instead of one after another.
extern bool once;

// Reads the settings file, then the browser and the session's own
// settings; starts the log; refuses a bad settings file, and a browser or a
// watchdog not in PATH.
void read_settings();

// The count, the period and the dialog the watchdog is to take, exported
// for it; refuses any it would not take. The session's watchdog prepares
// its dialog in advance (BROWSER_WATCHDOG_DIALOG=ready) unless told
// "plain".
void choose_watchdog_settings();

// How the watchdog's checks are woken, for the reserve's line: with the
// adaptive period, "; checks on memory pressure too" where this process
// can have a memory pressure trigger under /proc, as its watchdog will, or
// "; checks on its period alone (no memory pressure trigger: REASON)";
// empty with the fixed period.
extern char wakes_words[128];

// Where name is found as PATH finds commands, into path of size bytes;
// false when it is not.
bool find_command(const char *name, char *path, std::size_t size);

// --- The X server (display.cpp) --------------------------------------------

// The X server, by the lock file of the display DISPLAY names, read as
// Xlib reads it; only a server of this machine. Refuses otherwise.
extern pid_t x_pid;
void find_x_server();

// Whether the X server still runs; when not, ends the session (status 1).
void check_x_server();

// --- Processes (stat.cpp) --------------------------------------------------

// Process pid's state (R, S, T for stopped, Z...) and start time (clock
// ticks after boot), from the real /proc; false when it has no entry.
bool read_stat(pid_t pid, char &state, std::uint64_t &since);

// Whether pid, which started at since, still runs: a zombie has ended, and
// a pid with another start time is another process's.
bool runs(pid_t pid, std::uint64_t since);

// --- The figures (figures.cpp, keep.cpp, rest.cpp) -------------------------

// What the watchdog will count against, read with its own readers: RAM,
// the swap the count takes, the zram among it, and their sum (KiB).
struct Totals {
    std::uint64_t ram;
    std::uint64_t swap;
    std::uint64_t zram;
    std::uint64_t total;
};
bool read_totals(Totals &totals);

// The room a reserve is taken from, KiB: with the headroom count, what the
// device has left (read_device_left); with a count of the processes, the
// total less the X server's count. words says which, for the log.
bool read_base(const Totals &totals, std::uint64_t &base, char *words, std::size_t size);

// What the kernel keeps of what the headroom count calls left (KiB): in
// each zone its high watermark and its protection of the zones below (at
// most the zone's pages), and twice its low watermark, less any boost;
// from zoneinfo under proc. False when it cannot be read.
bool read_kernel_keep(std::uint64_t &keep);

// The device at rest: what is in use (read_in_use) and the X server's
// count, sampled every half second until five samples in a row agree
// within 256 KiB, or the least seen in 30 s.
bool read_rest(std::uint64_t &in_use, std::uint64_t &x_count);

// The X server's count as the watchdog counts it (KiB).
bool read_x_count(std::uint64_t &x_count);

// --- The reserve (reserve.cpp) ---------------------------------------------

// The reserve given to the watchdog, MiB.
extern std::uint64_t reserve_mib;

// Takes RESERVE_MIB when set, else chooses one from the device's figures;
// refuses one the watchdog would not take or that leaves no room.
void settle_reserve();

// Before every start after the first: the total read again, a chosen
// reserve chosen again for a new one, a limit that leaves no room waited
// out. Returns once the browser may start.
void fit_limit();

// --- The browser's life (browser.cpp, signals.cpp) -------------------------

// Signals the session takes as events: the children's changes and the
// signals that end it. Blocked for good once taken; children start with
// the mask the session found.
void take_signals();

// The signal mask the session found, for its children.
extern sigset_t original_mask;

// Waits at most ms (for ever when negative) for one of the session's
// signals and handles it: a child's change is recorded, an ending signal
// ends the session.
void wait_for_signal(int ms);

// Waits at most ms for a child's change alone, and records it; any other
// signal stays pending. True when one came.
bool wait_for_child(int ms);

// Sleeps ms, handling the session's signals meanwhile.
void pause_ms(int ms);

// What became of one browser: it ran (its watchdog released it); its
// watchdog's first check found the limit reached and ended it, held; or
// it never ran for another reason (its watchdog failed, or never released
// it).
enum class Outcome { ran, stopped_at_start, never_ran };

// Runs one browser: started held, its watchdog started, until it has
// ended and its watchdog too. ran_s says how long it ran once released.
// A held browser not released within a bound is ended, and said so.
Outcome run_browser(std::uint64_t &ran_s);

// Reaps what changed among the children: the browser's stops, releases and
// end, the watchdog's end.
void reap_children();

// Ends the session on sig: the browser and its watchdog first, then the
// session as by that signal.
[[noreturn]] void end_session(int sig);

// Monotonic ms.
std::int64_t now_ms();

#endif
