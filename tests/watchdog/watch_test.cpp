// The real binary watching real processes on a real X server: the check,
// the dialog, the answer, the signals.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/display.h"
#include "support/fatal_line.h"
#include "support/files.h"
#include "support/process.h"
#include "support/scene.h"

namespace {

using support::Watchdog;
const auto line = support::log_line;

using support::limit_pages;
using support::period;
using support::Scene;
using support::statm;

TEST(Watch, BelowStaysQuietExactlyAtTheLimitFiresOnce)
{
    REQUIRE_MOUNTS();
    const unsigned long x_pages = 1000;
    const unsigned long browser_pages = limit_pages() - x_pages;
    Scene s(x_pages, browser_pages - 1);  // one page below the limit
    support::start(s.w, s.options);

    // Two whole periods below the limit: nothing after the start-up line,
    // which is written just before the check is armed.
    ASSERT_TRUE(support::wait_for(s.w, s.startup(), 5)) << s.w.log;
    support::collect_for(s.w, 2 * period + 0.5);
    EXPECT_EQ(s.w.log, s.startup());
    EXPECT_EQ(support::process_state(s.browser.pid), 'S');

    // A sum equal to the limit counts as exceeded.
    s.dir.write("browser.statm", statm(browser_pages));
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", period + 1)) << s.w.log;
    EXPECT_EQ(s.w.log, s.startup() + s.fired(x_pages, browser_pages, "ok"));
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 1), 'T');
    const unsigned long window = support::find_window("Error", 5);
    ASSERT_NE(window, 0u) << "no window titled Error";

    // The check is gone for good: statm that no longer parses goes unread.
    s.dir.write("browser.statm", "garbage");
    s.dir.write("x.statm", "garbage");
    support::collect_for(s.w, period + 0.5);
    EXPECT_FALSE(support::wait_end(s.w, 0));
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 1), 'T');

    ASSERT_TRUE(support::click_dialog_button(window));
    ASSERT_TRUE(support::wait_end(s.w, 5)) << s.w.log;
    EXPECT_EQ(support::exit_code(s.w), 0);
    EXPECT_EQ(s.w.log, s.startup() + s.fired(x_pages, browser_pages, "ok") +
                           s.answered("ok"));
    const int status = s.browser.reap(2);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    s.expect_x_untouched();
    EXPECT_EQ(s.w.err(), "");
}

// KiB locked in the file mappings of process pid, from its smaps.
unsigned long locked_file_kib(pid_t pid)
{
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    unsigned long total = 0;
    bool file = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long kib = 0;
        char path[2] = "";
        // A mapping's first line: its range, then the inode and a path.
        if (line.find('-') < line.find(' ') && line.find(':') != std::string::npos)
            file = std::sscanf(line.c_str(), "%*s %*s %*s %*s %lu %1s", &kib, path) == 2 &&
                   kib != 0 && path[0] == '/';
        else if (file && std::sscanf(line.c_str(), "Locked: %lu kB", &kib) == 1)
            total += kib;
    }
    return total;
}

// Prepared in advance or built at the act, the dialog is the same: the
// same lines, the same pixels on the screen, the same answer.
TEST(Watch, DialogReadyInAdvanceIsThePlainOne)
{
    REQUIRE_MOUNTS();
    const unsigned long x_pages = 1000;
    const unsigned long browser_pages = limit_pages() - x_pages;
    const char *const modes[] = {"plain", "ready"};
    std::string screens[2];
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(modes[i]);
        Scene s(x_pages, browser_pages - 1);
        s.options.env.push_back({"BROWSER_WATCHDOG_DIALOG", modes[i]});
        support::start(s.w, s.options);
        ASSERT_TRUE(support::wait_for(s.w, s.startup(), 5)) << s.w.log;
        // Ready: once the first check found room, the dialog's window
        // exists, unmapped.
        if (std::string(modes[i]) == "ready") {
            ASSERT_NE(support::find_window("Error", 4 * period, false), 0u);
        }
        EXPECT_EQ(support::find_window("Error", 0), 0u) << "shown before the limit";

        s.dir.write("browser.statm", statm(browser_pages));
        // Bounds, not times: under an emulator the toolkit takes seconds.
        ASSERT_TRUE(support::wait_for(s.w, "dialog\n", 4 * period)) << s.w.log;
        EXPECT_EQ(s.w.log, s.startup() + s.fired(x_pages, browser_pages, "ok"));
        ASSERT_NE(support::find_window("Error", 4 * period), 0u);
        EXPECT_TRUE(support::await_pointer_grab(true, 5));
        EXPECT_TRUE(support::await_keyboard_grab(true, 5));
        screens[i] = support::settled_screen(4 * period);
        ASSERT_FALSE(screens[i].empty());
        // Nothing of a file is locked: those pages count as what the
        // device has left only while the kernel may take them back.
        EXPECT_EQ(locked_file_kib(s.w.pid), 0u);
        EXPECT_EQ(s.answer(), 0) << s.w.log;
        EXPECT_EQ(s.w.log, s.startup() + s.fired(x_pages, browser_pages, "ok") +
                               s.answered("ok"));
    }
    EXPECT_TRUE(screens[0] == screens[1]) << "the prepared dialog looks otherwise";
}

enum class Answer { ok_button, escape, close_window };

struct AnswerCase {
    const char *name;
    Answer answer;
    unsigned long x_pages;
    unsigned long browser_pages;
};

void PrintTo(const AnswerCase &c, std::ostream *os)
{
    *os << c.name;
}


class Answering : public testing::TestWithParam<AnswerCase> {};

TEST_P(Answering, ContinuesKillsAndExitsZero)
{
    REQUIRE_MOUNTS();
    const AnswerCase &c = GetParam();
    Scene s(c.x_pages, c.browser_pages);
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", 4 * period)) << s.w.log;
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 1), 'T');
    const unsigned long window = support::find_window("Error", 5);
    ASSERT_NE(window, 0u);
    // The dialog holds the input: nothing else can take it from the user.
    EXPECT_TRUE(support::await_pointer_grab(true, 5));
    EXPECT_TRUE(support::await_keyboard_grab(true, 5));

    switch (c.answer) {
    case Answer::ok_button:
        ASSERT_TRUE(support::click_dialog_button(window));
        break;
    case Answer::escape:
        ASSERT_TRUE(support::xdotool("windowfocus --sync " + std::to_string(window) +
                                     " key Escape"));
        break;
    case Answer::close_window:
        ASSERT_TRUE(support::close_window(window));
        break;
    }
    ASSERT_TRUE(support::wait_end(s.w, 5)) << s.w.log;
    EXPECT_EQ(support::exit_code(s.w), 0);
    EXPECT_EQ(s.w.log, s.startup() + s.fired(c.x_pages, c.browser_pages, "ok") +
                           s.answered("ok"));
    const int status = s.browser.reap(2);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    s.expect_x_untouched();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Answering,
    testing::Values(
        AnswerCase{"OkButton", Answer::ok_button, 5000, 30000},
        AnswerCase{"Escape", Answer::escape, 20000, 20000},
        // 4 TiB of X server address space must not wrap to a small sum.
        AnswerCase{"CloseWindowTerabyteSum", Answer::close_window, 1073741824, 1}),
    [](const testing::TestParamInfo<AnswerCase> &info) { return info.param.name; });

TEST(Watch, SignallingFailsTheDialogStillComes)
{
    REQUIRE_MOUNTS();
    // The stand-ins are root's; the watchdog runs as nobody in its own
    // session, from a copy it may execute.
    support::TempDir bin;
    const std::string copy = bin.path("browser-watchdog");
    ASSERT_EQ(std::system(("cp '" + std::string(support::watchdog_binary()) + "' '" +
                           copy + "'").c_str()), 0);
    chmod(copy.c_str(), 0755);

    Scene s(1000, limit_pages());
    s.options.as_nobody = true;
    s.options.binary = copy;
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", period + 2))
        << s.w.log << s.w.err();
    EXPECT_EQ(support::process_state(s.browser.pid), 'S');
    const unsigned long window = support::find_window("Error", 5);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(support::xdotool("windowfocus --sync " + std::to_string(window) +
                                 " key Escape"));
    ASSERT_TRUE(support::wait_end(s.w, 5)) << s.w.log;
    EXPECT_EQ(support::exit_code(s.w), 0);
    EXPECT_EQ(s.w.log, s.startup() + s.fired(1000, limit_pages(), "failed") +
                           s.answered("failed"));
    EXPECT_EQ(support::process_state(s.browser.pid), 'S') << "still alive";
    s.expect_x_untouched();
}

enum class Fault { none, x_gone, browser_gone };
enum class Counted { size, resident, headroom };

struct FailCase {
    const char *name;
    Fault fault;            // done to a stand-in after start-up
    const char *x_file;     // its statm or status; nullptr: a valid, small size
    const char *browser_file;
    const char *message;
    Counted count = Counted::size;
    const char *meminfo_later = nullptr;  // the device's meminfo once started
};

void PrintTo(const FailCase &c, std::ostream *os)
{
    *os << c.name;
}


class CheckFails : public testing::TestWithParam<FailCase> {};

TEST_P(CheckFails, AtTheNextCheckWithoutSignalling)
{
    REQUIRE_MOUNTS();
    const FailCase &c = GetParam();
    Scene s(1000, 1000);
    const std::string file = c.count == Counted::size ? "statm" : "status";
    if (c.count == Counted::resident)
        s.count_resident(support::status(1000, 0), support::status(1000, 0));
    if (c.count == Counted::headroom)
        s.count_headroom(support::meminfo(50000, 40000, 1000, 1000, 1000, 20000),
                         support::status(1000, 0), support::status(1000, 0));
    if (c.x_file != nullptr)
        s.dir.write("x." + file, c.x_file);
    if (c.browser_file != nullptr)
        s.dir.write("browser." + file, c.browser_file);
    // A process that ends is read as itself: its chosen file goes too.
    const auto unmount = [&](int pid) {
        const std::string target = "/proc/" + std::to_string(pid) + "/" + file;
        auto &m = s.options.mounts;
        m.erase(std::remove_if(m.begin(), m.end(),
                               [&](const support::Mount &e) { return e.target == target; }),
                m.end());
    };
    if (c.fault == Fault::x_gone)
        unmount(s.x.pid);
    if (c.fault == Fault::browser_gone)
        unmount(s.browser.pid);
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, "\n", 5));
    // Once it sleeps in its main loop: a count other than the default is
    // read once more at start, after the start-up line, and a stand-in
    // that ended during that read would be read as the zombie it is then.
    if (c.meminfo_later != nullptr || c.fault != Fault::none) {
        ASSERT_EQ(support::await_state(s.w.pid, 'S', 5), 'S') << s.w.log;
    }
    if (c.meminfo_later != nullptr)
        s.dir.write("meminfo", c.meminfo_later);
    if (c.fault == Fault::x_gone)
        s.x.end();
    if (c.fault == Fault::browser_gone)
        s.browser.end();

    ASSERT_TRUE(support::wait_end(s.w, period + 2)) << s.w.log;
    EXPECT_EQ(support::exit_code(s.w), 1);
    EXPECT_EQ(s.w.log, s.startup() + support::fatal_line(c.message));
    if (c.fault != Fault::x_gone) {
        s.expect_x_untouched();
    }
    if (c.fault != Fault::browser_gone) {
        EXPECT_EQ(support::process_state(s.browser.pid), 'S');
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckFails,
    testing::Values(
        FailCase{"XServerGone", Fault::x_gone, nullptr, nullptr,
                 "cannot open /proc/.../statm"},
        FailCase{"BrowserGone", Fault::browser_gone, nullptr, nullptr,
                 "cannot open /proc/.../statm"},
        FailCase{"XStatmMalformed", Fault::none, "12345\n", nullptr,
                 "cannot parse /proc/.../statm"},
        FailCase{"BrowserStatmOverflows", Fault::none, nullptr,
                 "4294967296 1 1 1 0 1 0\n", "cannot parse /proc/.../statm"},
        FailCase{"BrowserStatmUnreadable", Fault::none, nullptr, "",
                 "cannot read /proc/.../statm"},
        FailCase{"ResidentBrowserGone", Fault::browser_gone, nullptr, nullptr,
                 "cannot open /proc/.../status", Counted::resident},
        FailCase{"ResidentBrowserStatusUnreadable", Fault::none, nullptr, "",
                 "cannot read /proc/.../status", Counted::resident},
        FailCase{"ResidentXStatusWithoutVmSwap", Fault::none,
                 "Name:\tXvfb\nVmSize:\t19988 kB\nVmRSS:\t10000 kB\nThreads:\t1\n", nullptr,
                 "cannot parse /proc/.../status", Counted::resident},
        FailCase{"ResidentBrowserRssOverflows", Fault::none, nullptr,
                 "VmRSS:\t18446744073709551616 kB\nVmSwap:\t0 kB\n", "cannot parse /proc/.../status",
                 Counted::resident},
        // What the device has left is read from meminfo at every check; the
        // processes are watched all the same.
        FailCase{"HeadroomBrowserGone", Fault::browser_gone, nullptr, nullptr,
                 "cannot open /proc/.../status", Counted::headroom},
        FailCase{"HeadroomXServerGone", Fault::x_gone, nullptr, nullptr,
                 "cannot open /proc/.../status", Counted::headroom},
        FailCase{"HeadroomMeminfoUnreadable", Fault::none, nullptr, nullptr,
                 "cannot read /proc/meminfo", Counted::headroom, ""},
        FailCase{"HeadroomMeminfoWithoutSwapFree", Fault::none, nullptr, nullptr,
                 "cannot parse /proc/meminfo", Counted::headroom,
                 "MemTotal: 100000 kB\nMemFree: 50000 kB\nActive(file): 1 kB\n"
                 "Inactive(file): 1 kB\nKReclaimable: 1 kB\nSwapTotal: 20000 kB\n"},
        FailCase{"HeadroomMemFreeOverflows", Fault::none, nullptr, nullptr,
                 "cannot parse /proc/meminfo", Counted::headroom,
                 "MemTotal: 100000 kB\nMemFree: 18446744073709551616 kB\nActive(file): 1 kB\n"
                 "Inactive(file): 1 kB\nKReclaimable: 1 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n"}),
    [](const testing::TestParamInfo<FailCase> &info) { return info.param.name; });

// The resident count: VmRSS plus VmSwap of each process, whatever its
// program size; a sum equal to the limit fires, and the log gives KiB.
TEST(Watch, ResidentCountFiresOnRssPlusSwapNotProgramSize)
{
    REQUIRE_MOUNTS();
    // Program sizes far past the limit, which this count never reads.
    Scene s(limit_pages(), limit_pages());
    const unsigned long browser_kib = support::limit_kib - 1500;
    s.count_resident(support::status(1000, 500), support::status(browser_kib - 2001, 2000));
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, s.startup(), 5)) << s.w.log;
    support::collect_for(s.w, period + 0.5);
    EXPECT_EQ(s.w.log, s.startup()) << "one KiB below the limit";

    s.dir.write("browser.status", support::status(browser_kib - 2000, 2000));
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", period + 1)) << s.w.log;
    EXPECT_EQ(s.w.log, s.startup() + s.fired_kib(1500, browser_kib, "ok"));
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 1), 'T');
    ASSERT_EQ(s.answer(), 0) << s.w.log;
    EXPECT_EQ(s.w.log, s.startup() + s.fired_kib(1500, browser_kib, "ok") + s.answered("ok"));
    s.browser.reap(2);
    s.expect_x_untouched();
}

// A held start: the browser, stopped before it ran, is continued by the
// first check, which comes at once, only when that check finds the two
// below the limit; at or above it, the browser never runs and the dialog
// comes as usual.
struct HeldCase {
    const char *name;
    unsigned long browser_pages;
    bool released;
    const char *dialog;  // BROWSER_WATCHDOG_DIALOG
};

void PrintTo(const HeldCase &c, std::ostream *os)
{
    *os << c.name;
}

class HeldStart : public testing::TestWithParam<HeldCase> {};

TEST_P(HeldStart, TheFirstCheckAtOnceReleasesOnlyBelowTheLimit)
{
    REQUIRE_MOUNTS();
    const HeldCase &c = GetParam();
    Scene s(1000, c.browser_pages);
    ASSERT_EQ(kill(s.browser.pid, SIGSTOP), 0);
    ASSERT_EQ(support::await_state(s.browser.pid, 'T', 5), 'T');
    s.options.env = {{"BROWSER_WATCHDOG_START", "held"}, {"BROWSER_WATCHDOG_DIALOG", c.dialog}};
    // Preparing the dialog first reads the font configuration: from a pipe
    // the test answers, so that the preparation is caught under way.
    const std::string fonts = s.dir.path("fonts.conf");
    const bool ready = std::string(c.dialog) == "ready";
    const double at_once = ready ? 4 * period : period / 2;
    if (ready) {
        ASSERT_EQ(mkfifo(fonts.c_str(), 0600), 0);
        s.options.env.push_back({"FONTCONFIG_FILE", fonts});
    }
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, s.startup(), 5)) << s.w.log;
    if (ready) {
        int pipe = -1;
        for (int i = 0; i < 200 && pipe < 0; ++i, usleep(50000))
            pipe = open(fonts.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(pipe, 0) << "the dialog was never prepared";
        // Prepared while the browser is held: preparing after the release
        // would hold up the checks while the browser grows.
        support::collect_for(s.w, 0);
        EXPECT_EQ(s.w.log, s.startup());
        EXPECT_EQ(support::process_state(s.browser.pid), 'T');
        const std::string conf = support::read_file("/etc/fonts/fonts.conf");
        EXPECT_EQ(write(pipe, conf.data(), conf.size()), static_cast<ssize_t>(conf.size()));
        close(pipe);
    }

    if (c.released) {
        // Written right after the start-up line, a period before any timer;
        // a prepared dialog comes first, which under an emulator takes
        // seconds.
        ASSERT_TRUE(support::wait_for(s.w, s.signalled(SIGCONT, "ok"), at_once)) << s.w.log;
        EXPECT_EQ(s.w.log, s.startup() + s.signalled(SIGCONT, "ok"));
        EXPECT_EQ(support::await_state(s.browser.pid, 'S', 2), 'S');
        // Released once: the checks go on, and the limit still fires.
        s.dir.write("browser.statm", statm(support::limit_pages() - 1000));
        ASSERT_TRUE(support::wait_for(s.w, "dialog\n", 4 * period)) << s.w.log;
        EXPECT_EQ(s.w.log, s.startup() + s.signalled(SIGCONT, "ok") +
                               s.fired(1000, support::limit_pages() - 1000, "ok"));
    } else {
        ASSERT_TRUE(support::wait_for(s.w, "dialog\n", at_once)) << s.w.log;
        EXPECT_EQ(s.w.log, s.startup() + s.fired(1000, c.browser_pages, "ok"));
    }
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 1), 'T');
    ASSERT_EQ(s.answer(), 0) << s.w.log;
    const int status = s.browser.reap(2);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    s.expect_x_untouched();
}

INSTANTIATE_TEST_SUITE_P(
    Table, HeldStart,
    testing::Values(HeldCase{"BelowTheLimitReleased", 1000, true, "plain"},
                    HeldCase{"AtTheLimitNeverReleased", support::limit_pages() - 1000, false, "plain"},
                    HeldCase{"DialogPreparedBeforeTheRelease", 1000, true, "ready"},
                    HeldCase{"PreparedDialogShownAtTheLimit", support::limit_pages() - 1000, false,
                             "ready"}),
    [](const testing::TestParamInfo<HeldCase> &info) { return info.param.name; });

// A signal the kernel refuses through the pidfd, for want of the call
// (ENOSYS, before Linux 5.1) or by a policy (EPERM), is sent again with
// kill() to the same live process: the held browser is released, and the
// reaction stops and ends it as usual. Where kill() is refused too, the
// watchdog does not go on with its browser held: it ends with status 1,
// for its session to end the browser.
struct RefusedCase {
    const char *name;
    std::vector<support::Refusal> refused;
    bool released;
};

void PrintTo(const RefusedCase &c, std::ostream *os)
{
    *os << c.name;
}

class RefusedRelease : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedRelease, SentAgainWithKillOrTheWatchdogEnds)
{
    REQUIRE_MOUNTS();
    REQUIRE_REFUSALS();
    const RefusedCase &c = GetParam();
    Scene s(1000, 1000);
    ASSERT_EQ(kill(s.browser.pid, SIGSTOP), 0);
    ASSERT_EQ(support::await_state(s.browser.pid, 'T', 5), 'T');
    s.options.env = {{"BROWSER_WATCHDOG_START", "held"}};
    s.options.refused = c.refused;
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, s.startup(), 5)) << s.w.log << s.w.err();

    if (!c.released) {
        ASSERT_TRUE(support::wait_end(s.w, period / 2)) << s.w.log;
        EXPECT_EQ(support::exit_code(s.w), 1);
        EXPECT_EQ(s.w.log, s.startup() + s.signalled(SIGCONT, "failed") +
                               support::fatal_line("cannot release the held browser"));
        // Still held, never run: the session ends it.
        EXPECT_EQ(support::process_state(s.browser.pid), 'T');
        s.expect_x_untouched();
        return;
    }
    ASSERT_TRUE(support::wait_for(s.w, s.signalled(SIGCONT, "ok"), period / 2)) << s.w.log;
    EXPECT_EQ(support::await_state(s.browser.pid, 'S', 2), 'S');
    s.dir.write("browser.statm", statm(support::limit_pages() - 1000));
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", period + 1)) << s.w.log;
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 1), 'T');
    ASSERT_EQ(s.answer(), 0) << s.w.log;
    EXPECT_EQ(s.w.log, s.startup() + s.signalled(SIGCONT, "ok") +
                           s.fired(1000, support::limit_pages() - 1000, "ok") +
                           s.answered("ok"));
    const int status = s.browser.reap(2);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    s.expect_x_untouched();
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedRelease,
    testing::Values(
        RefusedCase{"KernelWithoutPidfdSignal", {{SYS_pidfd_send_signal, ENOSYS}}, true},
        RefusedCase{"PidfdSignalForbidden", {{SYS_pidfd_send_signal, EPERM}}, true},
        RefusedCase{"EverySignalForbidden",
                    {{SYS_pidfd_send_signal, EPERM}, {SYS_kill, EPERM}}, false}),
    [](const testing::TestParamInfo<RefusedCase> &info) { return info.param.name; });

// What the device has left: free RAM, the file pages, reclaimable kernel
// memory and what is free of swap, against the reserve. MemAvailable at 0,
// as a watermark boost can leave it with nothing allocated, does not
// count, nor does SReclaimable where KReclaimable is given. The limit line gives RAM plus swap less
// what is left, and what each process holds.
TEST(Watch, HeadroomCountFiresWhenWhatIsLeftFallsToTheReserve)
{
    REQUIRE_MOUNTS();
    // Program sizes far past the limit, which this count never reads.
    Scene s(support::limit_pages(), support::limit_pages());
    // The reserve is 1024 KiB: 1025 left, then 1024.
    s.count_headroom(support::meminfo(200, 0, 300, 100, 25, 400), support::status(1000, 500),
                     support::status(30000, 2000));
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, s.startup(), 5)) << s.w.log;
    support::collect_for(s.w, period + 0.5);
    EXPECT_EQ(s.w.log, s.startup()) << "one KiB more left than the reserve";

    s.dir.write("meminfo", support::meminfo(199, 0, 300, 100, 25, 400));
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", period + 1)) << s.w.log;
    const unsigned long limit = support::limit_kib;
    EXPECT_EQ(s.w.log, s.startup() + s.fired_count(limit, 1500, 32000, "ok"));
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 1), 'T');
    ASSERT_EQ(s.answer(), 0) << s.w.log;
    s.browser.reap(2);
    s.expect_x_untouched();
}

// The period near the limit, checks counted as the device's meminfo is
// read from a FIFO: far from the limit a check every 3 s, growth seen or
// not; once the growth seen could carry the count past the limit before
// then, sooner, but never sooner than 100 ms after the last check.
TEST(Watch, AdaptivePeriodShortensNearTheLimitNeverBelow100ms)
{
    REQUIRE_MOUNTS();
    Scene s(1000, 1000);
    s.count_headroom("", support::status(1000, 500), support::status(30000, 2000));
    s.options.env.push_back({"BROWSER_WATCHDOG_PERIOD", "adaptive"});
    // The period alone: a stall anywhere on this machine would wake a
    // check through the memory pressure trigger.
    if (access("/proc/pressure", F_OK) == 0) {
        const std::string none = s.dir.path("no-pressure");
        ASSERT_EQ(mkdir(none.c_str(), 0700), 0);
        s.options.mounts.push_back({none, "/proc/pressure"});
    }
    support::Fifo fifo(s.dir.path("meminfo"));
    // What is left, in KiB, at each read; the reserve is 1024 KiB. The
    // first read is the RAM's, at start-up.
    const auto left = [](unsigned long kib) {
        return support::meminfo(kib - 400, 0, 300, 0, 100, 0);
    };
    support::start(s.w, s.options);
    ASSERT_GE(fifo.serve(left(60000), 10), 0) << "no start-up";
    std::vector<double> checks;
    for (unsigned long kib : {60000ul, 59000ul, 58000ul, 1124ul, 1124ul, 1000ul}) {
        checks.push_back(fifo.serve(left(kib), 2 * period));
        ASSERT_GE(checks.back(), 0) << "check " << checks.size() << " did not come\n" << s.w.log;
    }
    // 1 MiB in 3 s is far: 3 s. 57 MiB in 3 s to 100 KiB from the limit
    // could cross it in 8 ms: 100 ms, and again while it stays there.
    EXPECT_GE(checks[1] - checks[0], period - 0.1);
    EXPECT_GE(checks[2] - checks[1], period - 0.1);
    EXPECT_GE(checks[3] - checks[2], period - 0.1);
    for (std::size_t i = 4; i < checks.size(); ++i) {
        EXPECT_GE(checks[i] - checks[i - 1], 0.095) << "check " << i;
        EXPECT_LE(checks[i] - checks[i - 1], period / 2) << "check " << i;
    }
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", 5)) << s.w.log;
    EXPECT_EQ(s.w.log, s.startup() + s.fired_count(120000 - 1000, 1500, 32000, "ok"));
    ASSERT_EQ(s.answer(), 0) << s.w.log;
    s.browser.reap(2);
}

TEST(Watch, PidsThatAreNotNumbersFailAtTheFirstCheck)
{
    Watchdog w;
    support::Options options;
    options.args = {"server", "browser", "1"};
    support::start(w, options);
    ASSERT_TRUE(support::wait_for(w, "\n", 5));
    support::collect_for(w, period - 0.8);
    EXPECT_FALSE(support::wait_end(w, 0)) << "no check before one period";
    ASSERT_TRUE(support::wait_end(w, 3)) << w.log;
    EXPECT_EQ(support::exit_code(w), 1);
    EXPECT_EQ(w.log.substr(w.log.find('\n') + 1),
              support::fatal_line("cannot open /proc/.../statm"));
    EXPECT_EQ(w.log.find("Browser controller: x_pid=0, moz_pid=0, "), 0u);
}

} // namespace
