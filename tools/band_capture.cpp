// The screen of $DISPLAY, saved at the least cost to a small device:
//
//   band-capture FILE [BAND_ROWS]
//
// Xlib alone, no toolkit, and the screen read a band of rows at a time
// (BAND_ROWS, default as many as fit in 64 KiB): each band is asked for,
// written out and let go before the next, so that neither this process
// nor the X server's reply ever holds the whole screen, and the band's
// file pages are dropped once they are on disk. The pixels are written as
// the server gives them; capture-png makes a PNG of them on the host.
//
// FILE: one header line,
//   band-capture WIDTH HEIGHT BITS_PER_PIXEL lsb|msb RED GREEN BLUE
// (the masks in hex), then the rows from the top, each WIDTH pixels of
// BITS_PER_PIXEL bits (16, 24 or 32) in the server's byte order, with no
// padding. At the end it prints its own peak from /proc/self/status:
//   capture_hwm_kib=N capture_rss_kib=N
// Exits 2 on bad usage, 1 when it cannot read the screen or write FILE.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr unsigned long band_bytes = 64 * 1024;

bool write_all(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The band's rows without the padding Xlib may add at their ends, then
// the file's pages let go: written through, dropped from the cache.
bool write_band(int fd, const XImage *band, unsigned rows, size_t row_bytes)
{
    for (unsigned r = 0; r < rows; ++r)
        if (!write_all(fd, band->data + static_cast<size_t>(r) * band->bytes_per_line, row_bytes))
            return false;
    if (fdatasync(fd) != 0)
        return false;
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    return true;
}

// VmHWM and VmRSS of this process, in KiB; -1 where unreadable.
void print_peak()
{
    long hwm = -1;
    long rss = -1;
    FILE *status = std::fopen("/proc/self/status", "r");
    char line[128];
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
        std::sscanf(line, "VmHWM: %ld", &hwm);
        std::sscanf(line, "VmRSS: %ld", &rss);
    }
    if (status != nullptr)
        std::fclose(status);
    std::printf("capture_hwm_kib=%ld capture_rss_kib=%ld\n", hwm, rss);
}

int fail(const char *what)
{
    std::fprintf(stderr, "band-capture: %s\n", what);
    return 1;
}

// The bits of a pixel of the screen's depth, as the server sends them in
// a ZPixmap image; 0 if the server lists no such format.
int bits_per_pixel(Display *display, int depth)
{
    int count = 0;
    XPixmapFormatValues *formats = XListPixmapFormats(display, &count);
    int bits = 0;
    for (int i = 0; i < count; ++i)
        if (formats[i].depth == depth)
            bits = formats[i].bits_per_pixel;
    if (formats != nullptr)
        XFree(formats);
    return bits;
}

} // namespace

int main(int argc, char *argv[])
{
    long rows_asked = 0;
    if (argc == 3) {
        char *end = nullptr;
        rows_asked = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || rows_asked < 1)
            rows_asked = -1;
    }
    if (argc < 2 || argc > 3 || rows_asked < 0) {
        std::fprintf(stderr, "usage: band-capture FILE [BAND_ROWS]\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return fail("cannot open the display");
    const int screen = DefaultScreen(display);
    const unsigned width = static_cast<unsigned>(DisplayWidth(display, screen));
    const unsigned height = static_cast<unsigned>(DisplayHeight(display, screen));
    const Visual *visual = DefaultVisual(display, screen);
    const int bpp = bits_per_pixel(display, DefaultDepth(display, screen));
    if (visual->red_mask == 0 || visual->green_mask == 0 || visual->blue_mask == 0 ||
        (bpp != 16 && bpp != 24 && bpp != 32))
        return fail("the screen is not true colour of 16, 24 or 32 bits a pixel");
    const size_t row_bytes = static_cast<size_t>(width) * static_cast<unsigned>(bpp) / 8;
    unsigned step = rows_asked > 0 ? static_cast<unsigned>(rows_asked)
                                   : static_cast<unsigned>(band_bytes / row_bytes);
    if (step == 0)
        step = 1;

    const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail("cannot create the file");
    char header[160];
    const int n = std::snprintf(header, sizeof header, "band-capture %u %u %d %s %lx %lx %lx\n",
                                width, height, bpp,
                                ImageByteOrder(display) == LSBFirst ? "lsb" : "msb",
                                visual->red_mask, visual->green_mask, visual->blue_mask);
    if (!write_all(fd, header, static_cast<size_t>(n)))
        return fail("cannot write the file");
    for (unsigned top = 0; top < height; top += step) {
        const unsigned rows = height - top < step ? height - top : step;
        XImage *band = XGetImage(display, RootWindow(display, screen), 0, static_cast<int>(top),
                                 width, rows, AllPlanes, ZPixmap);
        if (band == nullptr)
            return fail("cannot read the screen");
        const bool written = band->bits_per_pixel == bpp && write_band(fd, band, rows, row_bytes);
        XDestroyImage(band);
        if (!written)
            return fail("cannot write the file");
    }
    if (close(fd) != 0)
        return fail("cannot write the file");
    XCloseDisplay(display);
    print_peak();
    return 0;
}
