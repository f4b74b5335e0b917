// Lines, words and decimal numbers: how every reader of /proc text and of
// the session's own files takes a line apart. No copies, no allocation.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"

bool next_line(const char *&cursor, const char *limit, Line &line)
{
    if (cursor >= limit)
        return false;
    const auto *newline =
        static_cast<const char *>(std::memchr(cursor, '\n', static_cast<std::size_t>(limit - cursor)));
    line.start = cursor;
    line.end = newline != nullptr ? newline : limit;
    cursor = newline != nullptr ? newline + 1 : limit;
    return true;
}

const char *word_end(const char *text, const char *end)
{
    while (text < end && *text != ' ' && *text != '\t')
        ++text;
    return text;
}

bool parse_decimal(const char *text, const char *end, std::uint64_t most, std::uint64_t &value)
{
    if (text >= end)
        return false;
    std::uint64_t number = 0;
    for (; text < end; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        if (digit > most || number > (most - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}

long read_lines(int dir, const char *name, char *buffer, std::size_t size,
                void (*take)(char *line, void *context), void *context)
{
    const int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return cannot_open;
    std::size_t kept = 0;
    bool too_long = false;
    for (;;) {
        const ssize_t n = read(fd, buffer + kept, size - 1 - kept);
        if (n < 0) {
            close(fd);
            return cannot_read;
        }
        // The file's last line may lack its newline: at the end, it is one.
        std::size_t held = kept + static_cast<std::size_t>(n);
        if (n == 0 && held > 0 && !too_long)
            buffer[held++] = '\n';
        char *line = buffer;
        for (char *newline; (newline = static_cast<char *>(std::memchr(
                                 line, '\n', static_cast<std::size_t>(buffer + held - line)))) != nullptr;
             line = newline + 1) {
            *newline = '\0';
            if (!too_long)
                take(line, context);
            too_long = false;
        }
        if (n == 0)
            break;
        kept = static_cast<std::size_t>(buffer + held - line);
        // A line that fills the buffer is passed over to its newline.
        if (kept == size - 1) {
            too_long = true;
            kept = 0;
        }
        std::memmove(buffer, line, kept);
    }
    close(fd);
    return 0;
}
