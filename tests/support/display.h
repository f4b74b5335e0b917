// A private X server (Xvfb) for tests, and a user's hands on it (xdotool).
#ifndef TESTS_SUPPORT_DISPLAY_H
#define TESTS_SUPPORT_DISPLAY_H

#include <string>

#include <gtest/gtest.h>

namespace support {

// Starts Xvfb on a free display for the whole test program and sets
// DISPLAY; stops it at the end.
class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

// Id of the visible window named exactly name, waiting at most seconds;
// 0 when there is none.
unsigned long find_window(const std::string &name, double seconds);

// Runs xdotool with the given arguments; true on success.
bool xdotool(const std::string &args);

// Asks the window to close as a window manager does (WM_DELETE_WINDOW).
bool close_window(unsigned long window);

// Clicks the main button of a dialog: at the bottom right, where GTK
// places its action area.
bool click_dialog_button(unsigned long window);

} // namespace support

#endif
