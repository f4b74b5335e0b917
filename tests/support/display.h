// A private X server (Xvfb) for tests, and a user's hands on it (xdotool).
#ifndef TESTS_SUPPORT_DISPLAY_H
#define TESTS_SUPPORT_DISPLAY_H

#include <string>
#include <sys/types.h>

#include <gtest/gtest.h>

namespace support {

// Starts Xvfb on a free display and returns its name (":N"), once it
// accepts clients; "" when it cannot be started. Its pid goes into pid.
std::string start_xvfb(pid_t &pid);

// Stops an Xvfb started by start_xvfb and reaps it.
void stop_xvfb(pid_t &pid);

// Starts Xvfb on a free display for the whole test program and sets
// DISPLAY; stops it at the end.
class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

// Id of the visible window named exactly name, waiting at most seconds;
// 0 when there is none. With visible false, an unmapped one counts too.
unsigned long find_window(const std::string &name, double seconds, bool visible = true);

// The screen's pixels as the X server holds them (no pointer), "" when
// they cannot be read.
std::string screen_image();

// The screen once it has read the same for half a second (reads a tenth
// of a second apart), waiting at most seconds; "" when it never settles.
std::string settled_screen(double seconds);

// Runs xdotool with the given arguments; true on success.
bool xdotool(const std::string &args);

// Asks the window to close as a window manager does (WM_DELETE_WINDOW).
bool close_window(unsigned long window);

// Whether some client holds a grab of the pointer (or of the keyboard) on
// the display: a grab of our own is then refused as already grabbed.
bool pointer_grabbed();
bool keyboard_grabbed();

// Waits at most seconds for a grab to be held (held true) or free.
bool await_pointer_grab(bool held, double seconds);
bool await_keyboard_grab(bool held, double seconds);

// Clicks the main button of a dialog: at the bottom right, where GTK
// places its action area.
bool click_dialog_button(unsigned long window);

} // namespace support

#endif
