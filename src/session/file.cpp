// The session's own files, the settings and the X server's lock file: read
// whole, and only if they are regular files.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "session/session.h"

long read_regular(const char *path, char *buffer, std::size_t size)
{
    // Without O_NONBLOCK, opening a FIFO waits for a writer, with the
    // session's signals blocked: nothing could end it.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return cannot_open;
    struct stat st {};
    long got = 0;
    if (fstat(fd, &st) != 0)
        got = cannot_read;
    else if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        got = cannot_read;
    } else if (!S_ISREG(st.st_mode))
        got = not_regular;
    while (got >= 0 && static_cast<std::size_t>(got) < size - 1) {
        const ssize_t n = read(fd, buffer + got, size - 1 - static_cast<std::size_t>(got));
        if (n == 0)
            break;
        if (n > 0)
            got += n;
        else if (errno != EINTR)
            got = cannot_read;
    }
    const int error = errno;
    close(fd);
    errno = error;
    if (got < 0)
        return got;
    buffer[got] = '\0';
    return got;
}
