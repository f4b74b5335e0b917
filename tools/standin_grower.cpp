// A stand-in browser for the device trial that grows faster than a real
// one: it draws a window on X, then grows at a set rate, touching every
// page, and draws how far it has grown, until it is stopped or killed.
//
//   standin-grower [PAGE...]
//
// STANDIN_GROWER_MIB_PER_S sets the rate (default 12, MiB a second);
// STANDIN_GROWER_MODE how it grows:
//   steady  (the default) a tenth of the rate every tenth of a second
//   burst   32 MiB at once, touched at once, as often as the rate allows
//   tree    steady, in a child it forks, while it only waits for the
//           child: a browser whose pages grow in a process of its own,
//           which outlives it when it alone is killed
// The page is ignored. Exits 1 without a display, with a rate that is not
// a whole number from 1 to 1024 or a mode it does not know; in tree mode,
// as its child ended.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

namespace {

constexpr unsigned width = 400;
constexpr unsigned height = 60;
constexpr std::int64_t ns_per_s = 1000000000;
constexpr std::size_t burst_mib = 32;

enum class Mode { steady, burst, tree, unknown };

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

Mode mode()
{
    const char *text = std::getenv("STANDIN_GROWER_MODE");
    if (text == nullptr || *text == '\0' || std::strcmp(text, "steady") == 0)
        return Mode::steady;
    if (std::strcmp(text, "burst") == 0)
        return Mode::burst;
    return std::strcmp(text, "tree") == 0 ? Mode::tree : Mode::unknown;
}

// Grows by step bytes every period_ns, drawing how far, for ever.
[[noreturn]] void grow(std::size_t step, std::int64_t period_ns)
{
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "standin-grower: cannot open the display\n");
        std::exit(1);
    }
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width,
                                              height, 0, BlackPixel(display, screen),
                                              WhitePixel(display, screen));
    XStoreName(display, window, "standin-grower");
    XMapWindow(display, window);
    const GC pen = DefaultGC(display, screen);

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
        const std::int64_t ns = next.tv_nsec + period_ns;
        next.tv_sec += static_cast<time_t>(ns / ns_per_s);
        next.tv_nsec = static_cast<long>(ns % ns_per_s);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
}

// The tree's parent: waits for the child that grows and ends as it did.
int wait_for(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main()
{
    const long rate = rate_mib_per_s();
    if (rate < 0) {
        std::fprintf(stderr, "standin-grower: STANDIN_GROWER_MIB_PER_S is not 1 to 1024\n");
        return 1;
    }
    const Mode how = mode();
    if (how == Mode::unknown) {
        std::fprintf(stderr, "standin-grower: STANDIN_GROWER_MODE is not steady, burst or tree\n");
        return 1;
    }
    const std::size_t rate_bytes = static_cast<std::size_t>(rate) << 20;
    if (how == Mode::burst)
        grow(burst_mib << 20, static_cast<std::int64_t>(burst_mib) * ns_per_s / rate);
    if (how == Mode::tree) {
        const pid_t child = fork();
        if (child < 0) {
            std::perror("standin-grower: fork");
            return 1;
        }
        if (child > 0)
            return wait_for(child);
    }
    grow(rate_bytes / 10, ns_per_s / 10);
}
