// Small /proc files read whole, in one read(2): a stdio stream would cost
// an allocation and an fstat() or fcntl() more at every check.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"

long read_whole(int dir, const char *name, char *buffer, std::size_t size)
{
    const int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return cannot_open;
    const ssize_t n = read(fd, buffer, size - 1);
    close(fd);
    if (n < 0)
        return cannot_read;
    buffer[n] = '\0';
    return n;
}

const char *read_text(int dir, const ProcFile &file, char *buffer, std::size_t size)
{
    const long n = read_whole(dir, file.name, buffer, size);
    if (n == cannot_open)
        return file.open_error;
    return n > 0 ? nullptr : file.read_error;
}

void first_line(char *text)
{
    char *newline = std::strchr(text, '\n');
    if (newline != nullptr)
        newline[1] = '\0';
}
