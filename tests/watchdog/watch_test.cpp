// The real binary watching real processes on a real X server: the check,
// the dialog, the answer, the signals.
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "support/display.h"
#include "support/fatal_line.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using support::Watchdog;
const auto line = support::log_line;

constexpr double period = 3.0;  // seconds between two checks

// RAM 100000 KiB plus one swap area of 20000 KiB, reserve 1 MiB: the
// limit is 118976 KiB, a multiple of every page size the kernel uses.
constexpr unsigned long limit_kib = 118976;
const std::string meminfo = "MemTotal:      100000 kB\nMemFree:  5000 kB\n";
const std::string swaps =
    "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
    "/swapfile                               file\t\t20000\t\t0\t\t-2\n";

std::string statm(unsigned long pages)
{
    return std::to_string(pages) + " 100 50 10 0 40 0\n";
}

// Two stand-ins, an X server's and a browser's, with chosen statm files
// laid over theirs for the watchdog alone.
struct Scene {
    support::TempDir dir;
    support::Standin x;
    support::Standin browser;
    Watchdog w;
    support::Options options;

    Scene(unsigned long x_pages, unsigned long browser_pages)
    {
        dir.write("x.statm", statm(x_pages));
        dir.write("browser.statm", statm(browser_pages));
        options.args = {std::to_string(x.pid), std::to_string(browser.pid), "1"};
        options.mounts = {
            {dir.write("meminfo", meminfo), "/proc/meminfo"},
            {dir.write("swaps", swaps), "/proc/swaps"},
            {dir.path("x.statm"), "/proc/" + std::to_string(x.pid) + "/statm"},
            {dir.path("browser.statm"),
             "/proc/" + std::to_string(browser.pid) + "/statm"},
        };
    }

    std::string startup() const
    {
        return line("x_pid=" + std::to_string(x.pid) + ", moz_pid=" +
                    std::to_string(browser.pid) +
                    ", total_memory=120000, memory_diff=1024");
    }

    std::string signalled(int sig, const char *outcome) const
    {
        return line("signalling process " + std::to_string(browser.pid) + " (" +
                    std::to_string(sig) + ")... " + outcome);
    }

    std::string fired(unsigned long x_pages, unsigned long browser_pages,
                      const char *outcome) const
    {
        const unsigned long long kib = support::page_kib();
        return line("memory limit exceeded, memory=" +
                    std::to_string((x_pages + browser_pages) * kib) +
                    " (X=" + std::to_string(x_pages * kib) +
                    ", durezezur=" + std::to_string(browser_pages * kib) + ")") +
               signalled(SIGSTOP, outcome) + line("showing confirmation dialog");
    }

    std::string answered(const char *outcome) const
    {
        return signalled(SIGCONT, outcome) + signalled(SIGKILL, outcome);
    }

    void expect_x_untouched()
    {
        EXPECT_EQ(support::process_state(x.pid), 'S') << "the X server is never signalled";
    }
};

unsigned long limit_pages()
{
    return limit_kib / support::page_kib();
}

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
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", period + 2)) << s.w.log;
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 1), 'T');
    const unsigned long window = support::find_window("Error", 5);
    ASSERT_NE(window, 0u);

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

struct FailCase {
    const char *name;
    Fault fault;            // done to a stand-in after start-up
    const char *x_statm;    // nullptr: a valid, small size
    const char *browser_statm;
    const char *message;
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
    if (c.x_statm != nullptr)
        s.dir.write("x.statm", c.x_statm);
    if (c.browser_statm != nullptr)
        s.dir.write("browser.statm", c.browser_statm);
    if (c.fault == Fault::x_gone)
        s.options.mounts.erase(s.options.mounts.begin() + 2);
    if (c.fault == Fault::browser_gone)
        s.options.mounts.pop_back();
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, "\n", 5));
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
                 "cannot read /proc/.../statm"}),
    [](const testing::TestParamInfo<FailCase> &info) { return info.param.name; });

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
