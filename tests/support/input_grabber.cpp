// A stand-in browser that holds the input as an open menu does: it maps a
// window, grabs the pointer and/or the keyboard (argument "pointer",
// "keyboard" or "both"), says "ready" and keeps its grabs until it ends,
// which it does at the end of its standard input.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

int main(int argc, char *argv[])
{
    const char *what = argc > 1 ? argv[1] : "both";
    const bool pointer = std::strcmp(what, "keyboard") != 0;
    const bool keyboard = std::strcmp(what, "pointer") != 0;

    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 1;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                              300, 200, 0, 0, 0);
    XStoreName(display, window, "input grabber");
    XSelectInput(display, window, StructureNotifyMask);
    XMapRaised(display, window);
    for (XEvent event{}; event.type != MapNotify;)
        XNextEvent(display, &event);

    // A window manager may hold its own short grab while mapping: retry.
    bool held = false;
    for (int i = 0; i < 200 && !held; ++i) {
        held = (!pointer ||
                XGrabPointer(display, window, False, ButtonPressMask | ButtonReleaseMask,
                             GrabModeAsync, GrabModeAsync, None, None,
                             CurrentTime) == GrabSuccess) &&
               (!keyboard || XGrabKeyboard(display, window, False, GrabModeAsync,
                                           GrabModeAsync, CurrentTime) == GrabSuccess);
        if (!held)
            usleep(10000);
    }
    if (!held)
        return 1;
    XSync(display, False);
    std::puts("ready");
    std::fflush(stdout);

    char rest[64];
    while (read(STDIN_FILENO, rest, sizeof rest) > 0) {
    }
    return 0;
}
