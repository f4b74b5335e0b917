// What the kernel keeps of what the headroom count calls left, from its
// zones' watermarks in zoneinfo: read a buffer at a time, as a host's
// zoneinfo, with a page of figures per processor, is far longer than any
// buffer of ours.
#include <cstring>
#include <unistd.h>

#include "procinfo/procinfo.h"

namespace {

// One zone's rows, in pages; a row it lacks is 0.
struct Zone {
    std::uint64_t boost, low, high, protection, managed, present;
};

struct Zones {
    Zone zone;
    int count;
    std::uint64_t pages;
    bool bad;
};

// What the kernel keeps of the zone: what it reserves (its high watermark
// and its protection of the zones below, at most its own pages), and the
// low watermark it takes off the file pages and off the reclaimable kernel
// memory when it says what is available, both less the boost.
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

// The largest figure of a list such as "(0, 30, 30)".
bool largest(const char *list, const char *end, std::uint64_t &most)
{
    most = 0;
    for (const char *p = list; p < end;) {
        const char *digits = p;
        while (p < end && *p >= '0' && *p <= '9')
            ++p;
        std::uint64_t value = 0;
        if (p > digits && !parse_decimal(digits, p, UINT64_MAX, value))
            return false;
        most = value > most ? value : most;
        if (p == digits)
            ++p;
    }
    return true;
}

// A line of zoneinfo: "Node N, zone NAME" begins a zone; "<blanks>key
// <blanks>value" gives one of its rows.
void take_line(char *line, void *context)
{
    auto &zones = *static_cast<Zones *>(context);
    if (std::strncmp(line, "Node ", 5) == 0) {
        if (zones.count++ > 0)
            zones.pages += zone_keep(zones.zone);
        zones.zone = Zone{};
        return;
    }
    const char *end = line + std::strlen(line);
    const char *key = skip_spaces(static_cast<const char *>(line));
    const char *key_end = word_end(key, end);
    const char *value = skip_spaces(key_end);
    const auto is = [&](const char *name) {
        return static_cast<std::size_t>(key_end - key) == std::strlen(name) &&
               std::strncmp(key, name, std::strlen(name)) == 0;
    };
    Zone &z = zones.zone;
    if (is("protection:")) {
        zones.bad |= !largest(value, end, z.protection);
        return;
    }
    std::uint64_t *row = is("boost")     ? &z.boost
                         : is("low")     ? &z.low
                         : is("high")    ? &z.high
                         : is("managed") ? &z.managed
                         : is("present") ? &z.present
                                         : nullptr;
    if (row != nullptr)
        zones.bad |= !parse_decimal(value, word_end(value, end), UINT64_MAX, *row);
}

} // namespace

Reading read_kernel_keep(int proc)
{
    Zones zones{};
    const long read = read_lines(proc, zoneinfo_file.name, file_buf, sizeof file_buf, take_line,
                                 &zones);
    if (read == cannot_open)
        return failure(zoneinfo_file.open_error);
    if (read == cannot_read)
        return failure(zoneinfo_file.read_error);
    if (zones.count == 0 || zones.bad)
        return failure(zone_parse_error);
    zones.pages += zone_keep(zones.zone);
    return figure(zones.pages * (static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024));
}
