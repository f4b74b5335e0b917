// A stand-in browser for the device trial that grows faster than a real
// one: it draws a window on X, then grows by a steady rate, touching every
// page, and draws how far it has grown, until it is stopped or killed.
//
//   standin-grower [PAGE...]
//
// STANDIN_GROWER_MIB_PER_S sets the rate (default 12, MiB a second); the
// page is ignored. Exits 1 without a display or with a rate that is not a
// whole number from 1 to 1024.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/mman.h>

#include <X11/Xlib.h>

namespace {

constexpr long steps_per_s = 10;
constexpr unsigned width = 400;
constexpr unsigned height = 60;

long rate_mib_per_s()
{
    const char *text = std::getenv("STANDIN_GROWER_MIB_PER_S");
    if (text == nullptr || *text == '\0')
        return 12;
    char *end = nullptr;
    errno = 0;
    const long rate = std::strtol(text, &end, 10);
    return errno == 0 && *end == '\0' && rate >= 1 && rate <= 1024 ? rate : -1;
}

} // namespace

int main()
{
    const long rate = rate_mib_per_s();
    if (rate < 0) {
        std::fprintf(stderr, "standin-grower: STANDIN_GROWER_MIB_PER_S is not 1 to 1024\n");
        return 1;
    }
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "standin-grower: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width,
                                              height, 0, BlackPixel(display, screen),
                                              WhitePixel(display, screen));
    XStoreName(display, window, "standin-grower");
    XMapWindow(display, window);
    const GC pen = DefaultGC(display, screen);

    const std::size_t step = static_cast<std::size_t>(rate << 20) / steps_per_s;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (unsigned long steps = 0;; ++steps) {
        // Anonymous pages of its own, each one touched, as a page's layout
        // would take them; never given back.
        void *chunk = mmap(nullptr, step, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                           -1, 0);
        if (chunk != MAP_FAILED)
            std::memset(chunk, static_cast<int>(steps), step);
        char text[64];
        std::snprintf(text, sizeof text, "grown %lu MiB", (steps + 1) * step >> 20);
        XClearWindow(display, window);
        XFillRectangle(display, window, pen, 0, 40,
                       static_cast<unsigned>((steps % (width / 4)) * 4), 20);
        XDrawString(display, window, pen, 10, 25, text, static_cast<int>(std::strlen(text)));
        XSync(display, False);
        next.tv_nsec += 1000000000L / steps_per_s;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
}
