// A screen saved by band-capture, as a PNG, on the host:
//
//   capture-png CAPTURE FILE.png
//
// Each colour is widened to 8 bits by repeating its bits (5 bits abcde
// give abcdeabc), as the toolkit's own screenshot reads the screen, so
// that both give the same pixels. Exits 2 on bad usage, 1 on a capture
// it cannot read or a PNG it cannot write.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace {

struct Format {
    unsigned width = 0;
    unsigned height = 0;
    int bpp = 0;
    bool lsb = true;
    unsigned long mask[3] = {0, 0, 0};
};

// The header line, "band-capture WIDTH HEIGHT BPP lsb|msb RED GREEN BLUE".
bool read_format(FILE *in, Format &f)
{
    char order[4] = "";
    if (std::fscanf(in, "band-capture %u %u %d %3s %lx %lx %lx", &f.width, &f.height, &f.bpp,
                    order, &f.mask[0], &f.mask[1], &f.mask[2]) != 7 ||
        std::fgetc(in) != '\n')
        return false;
    f.lsb = std::strcmp(order, "lsb") == 0;
    return (f.lsb || std::strcmp(order, "msb") == 0) && f.width > 0 && f.height > 0 &&
           f.width <= 16384 && f.height <= 16384 && (f.bpp == 16 || f.bpp == 24 || f.bpp == 32) &&
           f.mask[0] != 0 && f.mask[1] != 0 && f.mask[2] != 0;
}

// The colour under mask in pixel, its bits repeated to fill 8.
unsigned widen(uint32_t pixel, unsigned long mask)
{
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    int bits = 0;
    while (((mask >> (shift + bits)) & 1) != 0)
        ++bits;
    const unsigned value = static_cast<unsigned>((pixel & mask) >> shift);
    if (bits >= 8)
        return value >> (bits - 8);
    unsigned out = 0;
    for (int at = 8 - bits; at > -bits; at -= bits)
        out |= at >= 0 ? value << at : value >> -at;
    return out & 0xff;
}

uint32_t pixel_at(const unsigned char *p, int bytes, bool lsb)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= static_cast<uint32_t>(p[lsb ? i : bytes - 1 - i]) << (8 * i);
    return v;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: capture-png CAPTURE FILE.png\n");
        return 2;
    }
    FILE *in = std::fopen(argv[1], "rb");
    Format f;
    if (in == nullptr || !read_format(in, f)) {
        std::fprintf(stderr, "capture-png: %s is no capture of band-capture\n", argv[1]);
        return 1;
    }
    GdkPixbuf *png = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, static_cast<int>(f.width),
                                    static_cast<int>(f.height));
    const int bytes = f.bpp / 8;
    unsigned char *row = static_cast<unsigned char *>(g_malloc(f.width * static_cast<unsigned>(bytes)));
    for (unsigned y = 0; y < f.height; ++y) {
        if (std::fread(row, static_cast<size_t>(bytes), f.width, in) != f.width) {
            std::fprintf(stderr, "capture-png: %s ends at row %u of %u\n", argv[1], y, f.height);
            return 1;
        }
        guchar *out = gdk_pixbuf_get_pixels(png) + static_cast<size_t>(y) * static_cast<size_t>(gdk_pixbuf_get_rowstride(png));
        for (unsigned x = 0; x < f.width; ++x) {
            const uint32_t v = pixel_at(row + static_cast<size_t>(x) * static_cast<size_t>(bytes), bytes, f.lsb);
            for (int c = 0; c < 3; ++c)
                out[3 * x + static_cast<unsigned>(c)] = static_cast<guchar>(widen(v, f.mask[c]));
        }
    }
    g_free(row);
    const bool longer = std::fgetc(in) != EOF;
    std::fclose(in);
    if (longer) {
        std::fprintf(stderr, "capture-png: %s is longer than its header says\n", argv[1]);
        return 1;
    }
    GError *error = nullptr;
    if (!gdk_pixbuf_save(png, argv[2], "png", &error, nullptr)) {
        std::fprintf(stderr, "capture-png: %s\n", error->message);
        return 1;
    }
    g_object_unref(png);
    return 0;
}
