// The X session of an appliance: the web browser, watched by
// browser-watchdog, started again whenever it ends. Its settings and the X
// server it runs on, fixed at start; the device's figures and the rule
// that chooses the reserve from them; the browser's life: started held,
// released by the watchdog's first check, ended with the watchdog, the X
// server and the session itself.
#ifndef SESSION_SESSION_H
#define SESSION_SESSION_H

#include <csignal>
#include <cstdint>
#include <sys/types.h>

#include "box/box.h"
#include "procinfo/procinfo.h"

// --- What the session says (say.cpp) ---------------------------------------

// Writes "browser-session: <text>\n" on stderr in one write, or sends the
// text to the system log (settings.to_syslog).
void say(const char *format, ...) __attribute__((format(printf, 1, 2)));

// says, then ends the session with status 1: nothing was started.
[[noreturn]] void refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));

// --- Files of its own (file.cpp) --------------------------------------------

// Reads the file at path whole into buffer of size bytes and terminates it.
// It is opened without blocking and read only if it is a regular file, so
// that a FIFO or a device laid in its place never holds the session.
// Returns its length; or cannot_open or cannot_read, errno saying why (a
// directory is EISDIR); or not_regular.
constexpr long not_regular = -3;
long read_regular(const char *path, char *buffer, std::size_t size);

// --- Where the lines go (log.cpp) -------------------------------------------

// SESSION_LOG=value: stdout (unset or empty too), the session's lines on
// stderr and its watchdogs' on its standard output; syslog, each line one
// message of the system log, tagged browser-session or browser-watchdog.
// The watchdogs' standard output and error then go to a pipe that a
// forwarder, a child of the session, reads. Refuses any other value.
void start_log(const char *value);

// The pipe the watchdogs write to, or -1 when they write where the session
// does.
int watchdog_output();

// Whether pid, a child that ended with status (as waitpid gives it), was
// the forwarder: if so, says so and starts another on the same pipe. The
// session keeps the pipe's read end open, so that a watchdog never dies of
// SIGPIPE while no forwarder reads, and no line written meanwhile is lost.
bool forwarder_ended(pid_t pid, int status);

// --- Settings (defaults.cpp, settings.cpp, display.cpp) --------------------

// The integrator's file of settings (SESSION_SETTINGS names another): lines
// NAME=VALUE, blank lines and # comments; each value, taken as it stands,
// is the default of a variable the session reads, for any the environment
// leaves unset or empty. A missing file is no settings. Returns why the
// file or one of its lines (by number) cannot be read, having taken every
// line that can; nullptr when all could.
constexpr char default_settings_file[] = "/etc/default/browser-session";
const char *read_defaults_file();

// The environment's value of name, or fallback where it is unset or empty.
const char *setting(const char *name, const char *fallback);

// The X server of this machine, found by the lock file of the display
// DISPLAY names, read as Xlib reads it: its pid, its /proc/PID directory
// in the real /proc, and its start.
struct XServer {
    pid_t pid;
    int dir;
    std::uint64_t since;
};
// Refuses a display of another host, no lock file or one that names no
// running process.
XServer find_x_server();

// Whether the X server still runs: its /proc entry is there, it is no
// zombie, and it started when it did at the session's start.
bool x_server_runs(const XServer &x);

// Ends the session (status 1), saying so, once the X server has ended.
void check_x_server();

// The session's settings, read once by read_settings() at start, before
// anything else, and only read afterwards.
struct Settings {
    const char *browser_command;  // BROWSER as given (default: dillo)
    char *const *browser_argv;    // its words, then START_PAGE if set
    const Count *count;           // BROWSER_WATCHDOG_COUNT (default: headroom)
    bool adaptive;                // BROWSER_WATCHDOG_PERIOD=adaptive (the default)
    int trigger_error;            // 0 where a memory pressure trigger can be had, else why not
    bool given;                   // RESERVE_MIB was given
    std::uint64_t given_mib;      // its value, MiB
    const char *given_text;       // as written, leading zeros left out
    int proc;                     // the /proc the figures are read from
    const char *proc_name;        // SESSION_PROC, from the environment only (default: /proc)
    bool once;                    // SESSION_ONCE: one browser
    bool to_syslog;               // SESSION_LOG=syslog
    XServer x;                    // the X server
    BoxPlace box;                 // where each browser's box is made
};
extern const Settings &settings;

// Reads the settings file, starts the log, then takes the browser, the X
// server, the watchdog's settings (exported for it) and the session's own.
// Refuses a bad settings file, a browser or a watchdog not in PATH, a
// setting the watchdog would not take, an X server it cannot tell.
void read_settings();

// Where name is found as PATH finds commands (execvp's own default where
// PATH is unset or empty), into path of size bytes; false when it is not.
bool find_command(const char *name, char *path, std::size_t size);

// --- The figures (figures.cpp) ---------------------------------------------

// What the reserve is chosen from, read under settings.proc with the
// watchdog's own readers, as the watchdog will count it (KiB). Which are
// read depends on the count; the rest stay 0.
struct Figures {
    std::uint64_t ram;      // MemTotal
    std::uint64_t swap;     // the swap the count takes: every area, or the first
    std::uint64_t zram;     // of it, what is zram
    std::uint64_t left;     // headroom: what the device has left (read_device_left)
    std::uint64_t keep;     // headroom, resident: what the kernel keeps of that
    std::uint64_t x_count;  // resident, size: the X server as the count counts it
    std::uint64_t in_use;   // resident, size: in use with the device at rest
    bool tripwire;          // each browser's box has a memory controller, for a tripwire
};

// RAM, the swap and the room the reserve is taken from: for the headroom
// count what the device has left, for the others the X server's count.
// False when any of them cannot be read.
bool read_room(Figures &f);

// What the kernel keeps of what the device has left (read_kernel_keep),
// where the count needs it; false when it cannot be read.
bool read_keep(Figures &f);

// What is in use and the X server's count, once: a sample of the device at
// rest. False when either cannot be read.
bool read_rest_sample(Figures &f);

// What a count this kernel cannot give lacks, and the setting that works;
// nullptr when the count can run, or the figures are merely unreadable.
const char *kernel_lacks();

// --- The rule (rule.cpp) ---------------------------------------------------

// Why a reserve cannot be given to the watchdog.
enum class Refusal {
    none,
    no_limit,     // it leaves no limit above limit_margin of RAM plus swap
    no_room,      // it leaves the browser less than browser_min_kib
    below_least,  // the count never reaches it (given reserves)
    no_room_left  // even the least the rule may cut to leaves no room
};

// The least room a browser is given, and the room everyday pages need, KiB.
constexpr std::int64_t browser_min_kib = 10240;
constexpr std::int64_t browser_low_kib = 16384;

// A reserve and what it leaves, KiB but mib.
struct Reserve {
    std::uint64_t mib;       // the reserve
    std::uint64_t rule_mib;  // what the rule chose, before a cut (mib if none)
    std::uint64_t floor;     // kept in hand: a quarter of RAM plus swap, a sixth of RAM without
    std::uint64_t margin;    // the margin the rule adds
    std::uint64_t least;     // the least reserve the count can reach
    std::int64_t total;      // RAM plus swap
    std::int64_t base;       // the room it is taken from
    std::int64_t limit;      // RAM plus swap less the reserve
    std::int64_t room;       // what it leaves the browser: base less the reserve
    Refusal refusal;
};

// The reserve for count c on figures f: the one given (given_mib, when not
// nullptr), refused below the least the count can reach; or the one the
// rule chooses, cut to leave the browser browser_min_kib. refusal says why
// it cannot be given to the watchdog.
Reserve settle(const Figures &f, const Count &c, const std::uint64_t *given_mib);

// The reserve of mib MiB settled before, on figures read again: what it
// leaves, refused only for no_limit or no_room.
Reserve refit(const Figures &f, const Count &c, std::uint64_t mib);

// --- The reserve (reserve.cpp) ---------------------------------------------

// The reserve at the session's start: RESERVE_MIB when given, else chosen;
// refuses one the watchdog would not take or that leaves no room, and says
// what it settled.
Reserve settle_reserve();

// Before every start after the first: the total read again, a chosen
// reserve chosen again for a new one, a reserve that no longer fits waited
// out. Returns the reserve once the browser may start.
Reserve fit_limit(const Reserve &current);

// --- The browser's life (browser.cpp) --------------------------------------

// Takes the signals the session handles as events (the children's changes,
// and SIGTERM, SIGHUP and SIGINT, which end it): blocked for good, and
// waited for; the children start with the mask the session found.
void take_signals();

// Sleeps ms while handling the session's signals: an ending signal ends
// the session.
void pause_ms(int ms);

// What became of one browser: it ran (its watchdog released it); its
// watchdog's first check found the limit reached and ended it, held; or it
// never ran for another reason (its watchdog failed, or never released it).
enum class Outcome { ran, stopped_at_start, never_ran };

// Runs one browser with a watchdog given reserve_mib: started held, until
// it has ended and its watchdog too. ran_s says how long it ran once
// released. A held browser not released within a bound is ended, and said.
Outcome run_browser(std::uint64_t reserve_mib, std::uint64_t &ran_s);

// Monotonic ms.
std::int64_t now_ms();

#endif
