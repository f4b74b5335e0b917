#include "display.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace support {

namespace {
pid_t xvfb_pid = -1;
}

std::string start_xvfb(pid_t &pid)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "";
    pid = fork();
    if (pid == 0) {
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
    return started ? ":" + std::to_string(number) : "";
}

void stop_xvfb(pid_t &pid)
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

void XvfbEnvironment::SetUp()
{
    const std::string name = start_xvfb(xvfb_pid);
    ASSERT_NE(name, "") << "Xvfb did not start (is it installed?)";
    setenv("DISPLAY", name.c_str(), 1);
}

void XvfbEnvironment::TearDown()
{
    stop_xvfb(xvfb_pid);
}

bool xdotool(const std::string &args)
{
    const std::string command = "xdotool " + args + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

unsigned long find_window(const std::string &name, double seconds, bool visible)
{
    const int tries = static_cast<int>(seconds * 20);
    for (int i = 0; i <= tries; ++i) {
        const std::string command = std::string("xdotool search ") +
                                    (visible ? "--onlyvisible " : "") + "--name '^" + name +
                                    "$' 2>/dev/null";
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

std::string screen_image()
{
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return "";
    const Window root = DefaultRootWindow(display);
    XWindowAttributes size{};
    XGetWindowAttributes(display, root, &size);
    XImage *image = XGetImage(display, root, 0, 0, static_cast<unsigned>(size.width),
                              static_cast<unsigned>(size.height), AllPlanes, ZPixmap);
    std::string pixels;
    if (image != nullptr) {
        pixels.assign(image->data,
                      static_cast<std::size_t>(image->bytes_per_line) *
                          static_cast<std::size_t>(image->height));
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return pixels;
}

std::string settled_screen(double seconds)
{
    std::string last = screen_image();
    const int tries = static_cast<int>(seconds * 10);
    int same = 0;
    for (int i = 0; i < tries; ++i) {
        usleep(100000);
        std::string now = screen_image();
        same = now == last ? same + 1 : 0;
        // Half a second unchanged: a client still drawing under load does
        // not pause that long between two strokes.
        if (same == 5)
            return now;
        last = std::move(now);
    }
    return "";
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

namespace {

// Tries to grab the device on the root window and lets go at once.
bool grab_refused(bool keyboard)
{
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    const Window root = DefaultRootWindow(display);
    const int status =
        keyboard ? XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync,
                                 CurrentTime)
                 : XGrabPointer(display, root, False, ButtonPressMask, GrabModeAsync,
                                GrabModeAsync, None, None, CurrentTime);
    if (status == GrabSuccess) {
        if (keyboard)
            XUngrabKeyboard(display, CurrentTime);
        else
            XUngrabPointer(display, CurrentTime);
    }
    XCloseDisplay(display);
    return status == AlreadyGrabbed || status == GrabFrozen;
}

bool await_grab(bool keyboard, bool held, double seconds)
{
    const int tries = static_cast<int>(seconds * 50);
    for (int i = 0; i <= tries; ++i) {
        if (grab_refused(keyboard) == held)
            return true;
        usleep(20000);
    }
    return false;
}

} // namespace

bool pointer_grabbed()
{
    return grab_refused(false);
}

bool keyboard_grabbed()
{
    return grab_refused(true);
}

bool await_pointer_grab(bool held, double seconds)
{
    return await_grab(false, held, seconds);
}

bool await_keyboard_grab(bool held, double seconds)
{
    return await_grab(true, held, seconds);
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
