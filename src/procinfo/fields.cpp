// The "Key: N kB" files (meminfo, a process's status) taken apart by name,
// one line at a time, wherever each field stands.
#include <cstring>

#include "procinfo/procinfo.h"

namespace {

// The figure of the value that begins at value and ends at the line's
// first blank: its leading digits, none giving 0. False when the line has
// no blank, or the value is beyond 64 bits: a host's figures pass 2^32 KiB.
bool line_value(const char *value, const char *end, std::uint64_t &kib)
{
    while (value < end && (*value == ' ' || *value == '\t'))
        ++value;
    const char *blank = value;
    while (blank < end && *blank != ' ' && *blank != '\t')
        ++blank;
    if (blank == end)
        return false;
    std::uint64_t number = 0;
    for (; value < blank && *value >= '0' && *value <= '9'; ++value) {
        const auto digit = static_cast<std::uint64_t>(*value - '0');
        if (number > (UINT64_MAX - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    if (number == field_missing)
        return false;
    kib = number;
    return true;
}

} // namespace

bool find_fields(const char *text, const char *const keys[], std::size_t n, std::uint64_t kib[])
{
    for (std::size_t i = 0; i < n; ++i)
        kib[i] = field_missing;
    for (const char *line = text; *line != '\0';) {
        const char *newline = std::strchr(line, '\n');
        const char *end = newline != nullptr ? newline : line + std::strlen(line);
        const char *colon = static_cast<const char *>(std::memchr(line, ':', end - line));
        for (std::size_t i = 0; colon != nullptr && i < n; ++i) {
            const std::size_t length = std::strlen(keys[i]);
            if (kib[i] != field_missing || static_cast<std::size_t>(colon - line) != length ||
                std::strncmp(line, keys[i], length) != 0)
                continue;
            if (!line_value(colon + 1, end, kib[i]))
                return false;
            break;
        }
        line = newline != nullptr ? newline + 1 : end;
    }
    return true;
}
