// Every freeze ends: a stopped browser that holds the input, a display that
// goes away, a signal to the watchdog. Real X clients, real signals.
#include <csignal>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "support/display.h"
#include "support/fatal_line.h"
#include "support/process.h"
#include "support/scene.h"

namespace {

using support::period;
using support::Scene;

const std::string input_held =
    support::log_line("input held by another client, ending the browser now");

bool killed_by(int status, int sig)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

enum class Answer { click, key_return };

struct HeldCase {
    const char *name;
    const char *grabs;  // what the browser holds: pointer, keyboard or both
    Answer answer;
};

void PrintTo(const HeldCase &c, std::ostream *os)
{
    *os << c.name;
}

class InputHeld : public testing::TestWithParam<HeldCase> {};

TEST_P(InputHeld, TheBrowserIsEndedAndTheDialogAnswered)
{
    REQUIRE_MOUNTS();
    const HeldCase &c = GetParam();
    std::vector<std::string> grabber =
        support::target_command(support::input_grabber_binary());
    grabber.push_back(c.grabs);
    Scene s(1000, support::limit_pages(), grabber);
    ASSERT_TRUE(s.browser.ready);
    support::start(s.w, s.options);

    // The stopped browser keeps its grab: after about a second the
    // watchdog ends it, and its grab goes with its X connection. The bound
    // is generous: an emulated GTK+ on a loaded host is slow to get there.
    const std::string ended = s.fired(1000, support::limit_pages(), "ok") +
                              input_held + s.answered("ok");
    ASSERT_TRUE(support::wait_for(s.w, ended, period + 30)) << s.w.log;
    EXPECT_EQ(s.w.log, s.startup() + ended);
    EXPECT_TRUE(killed_by(s.browser.reap(5), SIGKILL));

    // The dialog stays, takes the input once it is free, and is answered.
    const unsigned long window = support::find_window("Error", 5);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(support::await_pointer_grab(true, 5));
    ASSERT_TRUE(support::await_keyboard_grab(true, 5));
    if (c.answer == Answer::click)
        ASSERT_TRUE(support::click_dialog_button(window));
    else
        ASSERT_TRUE(support::xdotool("key Return"));
    ASSERT_TRUE(support::wait_end(s.w, 5)) << s.w.log;
    EXPECT_EQ(support::exit_code(s.w), 0);
    EXPECT_EQ(s.w.log, s.startup() + ended) << "no signal after the answer";
    s.expect_x_untouched();
}

INSTANTIATE_TEST_SUITE_P(
    Table, InputHeld,
    testing::Values(HeldCase{"BothAnsweredByClick", "both", Answer::click},
                    HeldCase{"BothAnsweredByReturn", "both", Answer::key_return},
                    HeldCase{"KeyboardAnsweredByReturn", "keyboard", Answer::key_return},
                    HeldCase{"PointerAnsweredByClick", "pointer", Answer::click}),
    [](const testing::TestParamInfo<HeldCase> &info) { return info.param.name; });

// The voluntary context switches of process pid so far: each is a sleep
// the process woke from.
unsigned long wakeups(pid_t pid)
{
    const std::string status = support::read_file("/proc/" + std::to_string(pid) + "/status");
    const std::string key = "\nvoluntary_ctxt_switches:";
    const std::size_t at = status.find(key);
    return at == std::string::npos ? 0 : std::stoul(status.substr(at + key.size()));
}

TEST(Freeze, InputHeldByAnotherClientIsAskedForOnceASecond)
{
    REQUIRE_MOUNTS();
    std::vector<std::string> grabber =
        support::target_command(support::input_grabber_binary());
    grabber.push_back("both");
    support::Standin holder(grabber);
    ASSERT_TRUE(holder.ready);
    Scene s(1000, support::limit_pages());
    support::start(s.w, s.options);

    // The browser is ended as the likely holder; the grab stays.
    const std::string ended = s.fired(1000, support::limit_pages(), "ok") +
                              input_held + s.answered("ok");
    ASSERT_TRUE(support::wait_for(s.w, ended, period + 10)) << s.w.log;
    EXPECT_TRUE(killed_by(s.browser.reap(5), SIGKILL));

    // Past the second of quick retries that follows, the grab is asked
    // for about once a second, not twenty times: a window of 3 s.
    support::collect_for(s.w, 2);
    const unsigned long before = wakeups(s.w.pid);
    support::collect_for(s.w, 3);
    EXPECT_LT(wakeups(s.w.pid) - before, 15u);

    // Once the holder lets go, the dialog takes the input within a second
    // and is answered. (The grab is free in between, unless the dialog's
    // retry comes at that very moment.)
    holder.end();
    support::await_pointer_grab(false, 2);
    ASSERT_TRUE(support::await_pointer_grab(true, 5));
    ASSERT_TRUE(support::await_keyboard_grab(true, 5));
    ASSERT_TRUE(support::xdotool("key Return"));
    ASSERT_TRUE(support::wait_end(s.w, 5)) << s.w.log;
    EXPECT_EQ(support::exit_code(s.w), 0);
    s.expect_x_untouched();
}

TEST(Freeze, TheDisplayGoneEndsTheBrowserThenStatusOne)
{
    REQUIRE_MOUNTS();
    pid_t xvfb = -1;
    const std::string display = support::start_xvfb(xvfb);
    ASSERT_NE(display, "");
    Scene s(1000, support::limit_pages());
    s.options.display_name = display;
    support::start(s.w, s.options);
    ASSERT_TRUE(support::wait_for(s.w, "dialog\n", period + 2)) << s.w.log;
    EXPECT_EQ(support::await_state(s.browser.pid, 'T', 5), 'T');

    support::stop_xvfb(xvfb);
    ASSERT_TRUE(support::wait_end(s.w, 10)) << s.w.log;
    EXPECT_EQ(support::exit_code(s.w), 1);
    EXPECT_EQ(s.w.log, s.startup() + s.fired(1000, support::limit_pages(), "ok") +
                           s.answered("ok"));
    EXPECT_TRUE(killed_by(s.browser.reap(5), SIGKILL));
    s.expect_x_untouched();
}

struct SignalCase {
    const char *name;
    int sig;
    bool frozen;  // sent while the dialog is up, else while watching
};

void PrintTo(const SignalCase &c, std::ostream *os)
{
    *os << c.name;
}

class Signalled : public testing::TestWithParam<SignalCase> {};

TEST_P(Signalled, EndsAsTheSignalWouldLeavingNoBrowserStopped)
{
    REQUIRE_MOUNTS();
    const SignalCase &c = GetParam();
    // Below the limit while watching; at it when the dialog is wanted.
    Scene s(1000, c.frozen ? support::limit_pages() : 1000);
    support::start(s.w, s.options);
    if (c.frozen)
        ASSERT_TRUE(support::wait_for(s.w, "dialog\n", period + 2)) << s.w.log;
    else
        ASSERT_TRUE(support::wait_for(s.w, s.startup(), 5)) << s.w.log;

    kill(s.w.pid, c.sig);
    ASSERT_TRUE(support::wait_end(s.w, 5)) << s.w.log;
    EXPECT_TRUE(killed_by(s.w.status, c.sig)) << "status " << s.w.status;
    if (c.frozen) {
        EXPECT_EQ(s.w.log, s.startup() + s.fired(1000, support::limit_pages(), "ok") +
                               s.answered("ok"));
        EXPECT_TRUE(killed_by(s.browser.reap(5), SIGKILL));
    } else {
        EXPECT_EQ(s.w.log, s.startup()) << "before the freeze: the default effect";
        EXPECT_EQ(support::process_state(s.browser.pid), 'S');
    }
    s.expect_x_untouched();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Signalled,
    testing::Values(SignalCase{"TermDuringTheDialog", SIGTERM, true},
                    SignalCase{"IntDuringTheDialog", SIGINT, true},
                    SignalCase{"HupDuringTheDialog", SIGHUP, true},
                    SignalCase{"TermWhileWatching", SIGTERM, false},
                    SignalCase{"HupWhileWatching", SIGHUP, false}),
    [](const testing::TestParamInfo<SignalCase> &info) { return info.param.name; });

} // namespace
