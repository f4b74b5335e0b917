// What the kernel keeps of what the headroom count calls left, from its
// zones' watermarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "session/session.h"

namespace {

// One zone's figures, in pages; a missing one is 0, and a zone without
// its managed pages (kernels before 3.8) is capped by the pages it has.
struct Zone {
    std::uint64_t boost, low, high, protection, managed, present;
};

// What the kernel keeps of the zone: what it reserves (its high watermark
// and its protection of the zones below, at most its own pages), and the
// low watermark it takes off the file pages and off the reclaimable kernel
// memory when it says what is available. A boost is taken back once the
// kernel reclaims: it is left out.
std::uint64_t zone_keep(const Zone &z)
{
    const std::uint64_t high = z.high > z.boost ? z.high - z.boost : 0;
    const std::uint64_t low = z.low > z.boost ? z.low - z.boost : 0;
    std::uint64_t reserved = high + z.protection;
    const std::uint64_t pages = z.managed != 0 ? z.managed : z.present;
    if (pages != 0 && reserved > pages)
        reserved = pages;
    return reserved + 2 * low;
}

// The largest figure of "protection: (0, 30, 30)".
std::uint64_t largest(const char *list)
{
    std::uint64_t most = 0;
    for (const char *p = list; *p != '\0';) {
        if (*p < '0' || *p > '9') {
            ++p;
            continue;
        }
        char *end = nullptr;
        const std::uint64_t value = std::strtoull(p, &end, 10);
        most = value > most ? value : most;
        p = end;
    }
    return most;
}

} // namespace

bool read_kernel_keep(std::uint64_t &keep)
{
    const int fd = openat(proc, "zoneinfo", O_RDONLY | O_CLOEXEC);
    FILE *file = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (file == nullptr) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    std::uint64_t pages = 0;
    int zones = 0;
    Zone zone{};
    char line[512];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "Node ", 5) == 0) {
            if (zones++ > 0)
                pages += zone_keep(zone);
            zone = Zone{};
            continue;
        }
        // "<blanks>key<blanks>value": the rows of the zone's watermarks.
        char *key = line + std::strspn(line, " \t");
        char *value = key + std::strcspn(key, " \t\n");
        const auto key_length = static_cast<std::size_t>(value - key);
        value += std::strspn(value, " \t");
        const auto is = [&](const char *name) {
            return key_length == std::strlen(name) && std::strncmp(key, name, key_length) == 0;
        };
        if (is("protection:")) {
            zone.protection = largest(value);
            continue;
        }
        if (*value < '0' || *value > '9')
            continue;
        const std::uint64_t number = std::strtoull(value, nullptr, 10);
        if (is("boost"))
            zone.boost = number;
        else if (is("low"))
            zone.low = number;
        else if (is("high"))
            zone.high = number;
        else if (is("managed"))
            zone.managed = number;
        else if (is("present"))
            zone.present = number;
    }
    std::fclose(file);
    if (zones == 0)
        return false;
    pages += zone_keep(zone);
    keep = pages * (static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024);
    return true;
}
