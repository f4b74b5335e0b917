// Small /proc files read whole, in one read(2), for the checks that come
// again and again: a stdio stream would cost an fstat() or fcntl() more.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"

char file_buf[file_buf_size];

void read_whole(int dir, const char *path, char *buffer, std::size_t size,
                const char *open_error, const char *read_error)
{
    const int fd = openat(dir, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        do_error(open_error);
    const ssize_t n = read(fd, buffer, size - 1);
    close(fd);
    if (n <= 0)
        do_error(read_error);
    buffer[n] = '\0';
}

std::uint64_t field_kib(char *line, const char *message)
{
    char *colon = std::strchr(line, ':');
    if (colon == nullptr)
        do_error(message);
    char *value = skip_spaces(colon + 1);
    *find_space(value, message) = '\0';
    return parse_number(value, message);
}
