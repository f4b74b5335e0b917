#include "display.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

namespace support {

namespace {
pid_t xvfb_pid = -1;
}

void XvfbEnvironment::SetUp()
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    xvfb_pid = fork();
    if (xvfb_pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp",
               "-screen", "0", "1024x768x24", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes its display number once it is ready.
    FILE *ready = fdopen(fds[0], "r");
    int number = -1;
    const bool started = ready != nullptr && std::fscanf(ready, "%d", &number) == 1;
    if (ready != nullptr)
        std::fclose(ready);
    ASSERT_TRUE(started) << "Xvfb did not start (is it installed?)";
    setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
}

void XvfbEnvironment::TearDown()
{
    if (xvfb_pid > 0) {
        kill(xvfb_pid, SIGTERM);
        waitpid(xvfb_pid, nullptr, 0);
        xvfb_pid = -1;
    }
}

bool xdotool(const std::string &args)
{
    const std::string command = "xdotool " + args + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

unsigned long find_window(const std::string &name, double seconds)
{
    const int tries = static_cast<int>(seconds * 20);
    for (int i = 0; i <= tries; ++i) {
        const std::string command =
            "xdotool search --onlyvisible --name '^" + name + "$' 2>/dev/null";
        FILE *out = popen(command.c_str(), "r");
        unsigned long window = 0;
        if (out != nullptr) {
            if (std::fscanf(out, "%lu", &window) != 1)
                window = 0;
            pclose(out);
        }
        if (window != 0)
            return window;
        usleep(50000);
    }
    return 0;
}

bool close_window(unsigned long window)
{
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] =
        static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent != 0;
}

bool click_dialog_button(unsigned long window)
{
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XWindowAttributes size{};
    const Status known = XGetWindowAttributes(display, window, &size);
    XCloseDisplay(display);
    return known != 0 &&
           xdotool("mousemove --window " + std::to_string(window) + " " +
                   std::to_string(size.width - 45) + " " +
                   std::to_string(size.height - 22) + " click 1");
}

} // namespace support
