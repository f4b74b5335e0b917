// The "Key: N kB" files (meminfo, a process's status) taken apart by name,
// one line at a time, wherever each field stands.
#include <cstring>

#include "procinfo/procinfo.h"

namespace {

// The figure of the value that begins, after blanks, at value and ends at
// the line's first blank after it. False when the line has no blank there,
// or the value is not all digits or is beyond 64 bits: a host's figures pass
// 2^32 KiB.
bool line_value(const char *value, const char *end, std::uint64_t &kib)
{
    value = skip_spaces(value);
    const char *blank = word_end(value, end);
    return blank != end && parse_decimal(value, blank, field_missing - 1, kib);
}

} // namespace

bool find_fields(const char *text, const char *const keys[], std::size_t n, std::uint64_t kib[])
{
    for (std::size_t i = 0; i < n; ++i)
        kib[i] = field_missing;
    const char *cursor = text;
    const char *limit = text + std::strlen(text);
    for (Line line; next_line(cursor, limit, line);) {
        const auto *colon = static_cast<const char *>(
            std::memchr(line.start, ':', static_cast<std::size_t>(line.end - line.start)));
        if (colon == nullptr)
            continue;
        const auto length = static_cast<std::size_t>(colon - line.start);
        for (std::size_t i = 0; i < n; ++i) {
            if (kib[i] != field_missing || length != std::strlen(keys[i]) ||
                std::strncmp(line.start, keys[i], length) != 0)
                continue;
            if (!line_value(colon + 1, line.end, kib[i]))
                return false;
            break;
        }
    }
    return true;
}
