// Running the real watchdog binary and stand-in processes.
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

namespace support {

// A file laid over a /proc file, for the watchdog's process tree only.
struct Mount {
    std::string source;
    std::string target;
};

// A system call refused to the watchdog's process (a seccomp filter): its
// number on this machine (SYS_...) and the errno it answers with, as a
// kernel without the call (ENOSYS) or a policy that forbids it (EPERM).
struct Refusal {
    long number;
    int error;
};

// Installs in the calling process, for it and all it starts, a seccomp
// filter that answers each refused call with its errno; false when it
// cannot. Nothing to refuse installs nothing.
bool refuse_calls(const std::vector<Refusal> &refused);

struct Options {
    std::vector<std::string> args;  // after the program name
    std::vector<Mount> mounts;      // needs root: see can_mount()
    bool display = true;            // false: DISPLAY is unset
    bool as_nobody = false;         // run as uid/gid 65534 in a new session
    std::string display_name;       // non-empty: DISPLAY for it alone
    std::string binary;             // empty: the binary under test
    std::vector<std::pair<std::string, std::string>> env;  // set for it alone
    std::vector<Refusal> refused;   // needs seccomp: see can_refuse()
};

// A running or ended watchdog and everything it wrote.
struct Watchdog {
    pid_t pid = -1;
    int out = -1;        // read end of its standard output
    std::string log;     // standard output so far
    std::string err_path;
    int status = -1;     // waitpid status once ended
    bool ended = false;

    ~Watchdog();
    std::string err() const;  // its standard error
};

// The watchdog binary under test.
const char *watchdog_binary();

// The stand-in browser that holds the input (support/input_grabber.cpp).
const char *input_grabber_binary();

// Whether this process may lay files over /proc in a private mount
// namespace (root with mount namespaces).
bool can_mount();

// Skips the test where files cannot be laid over /proc.
#define REQUIRE_MOUNTS()                                                       \
    if (!::support::can_mount())                                               \
    GTEST_SKIP() << "needs root and mount namespaces to lay files over /proc"

// Whether a started watchdog's system calls can be refused: not where the
// tests run under an emulator, which turns seccomp filters away.
bool can_refuse();

// Skips the test where system calls cannot be refused.
#define REQUIRE_REFUSALS()                                                     \
    if (!::support::can_refuse())                                              \
    GTEST_SKIP() << "needs seccomp filters, which an emulator turns away"

// Starts the watchdog; its output is collected by the calls below.
void start(Watchdog &w, const Options &options);

// Reads output until the log contains text or seconds pass.
bool wait_for(Watchdog &w, const std::string &text, double seconds);

// Reads output for exactly the given time.
void collect_for(Watchdog &w, double seconds);

// Reads output until the watchdog ends or seconds pass; true if it ended.
bool wait_end(Watchdog &w, double seconds);

// Runs the watchdog to its end (at most seconds) and returns its exit code,
// or -1 if it did not exit normally in time.
int run(Watchdog &w, const Options &options, double seconds = 10);

// Exit code of an ended watchdog, -1 if it did not exit normally.
int exit_code(const Watchdog &w);

// The command line that runs a program built for the target: through the
// emulator where the tests run under one.
std::vector<std::string> target_command(const std::string &binary);

// A stand-in process that the test owns and reaps. It counts as started
// only once it has written "ready" to its standard output and then sleeps,
// so that its loader is done and its size no longer changes. It ends by itself at the
// end of its standard input, which the test holds: no stand-in outlives
// the test.
struct Standin {
    // A shell that says it is ready and waits on its input.
    Standin();
    // Any program that does the same (argv[0] is run as given); an empty
    // command is the shell.
    explicit Standin(const std::vector<std::string> &command);
    ~Standin();
    Standin(const Standin &) = delete;
    Standin &operator=(const Standin &) = delete;

    // Reaps it once it has ended, waiting at most seconds; returns its
    // waitpid status, or -1 if it did not end in time.
    int reap(double seconds);
    // Kills (SIGKILL) and reaps it, unless it was reaped already.
    void end();

    pid_t pid = -1;
    bool ready = false;  // it said so in time
    bool reaped = false;
    int status = 0;
    int input = -1;      // write end of its standard input
};

// One-letter state of a process from /proc/PID/stat ('?' when gone).
char process_state(pid_t pid);

// The state once it is `state`, or the last one seen after seconds (a
// signal takes effect when the process next runs, not when kill returns).
char await_state(pid_t pid, char state, double seconds);

// The kernel's page size in KiB.
unsigned long page_kib();

} // namespace support

#endif
