// Shared by the fuzz targets.
#include "fuzz.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

namespace {
int scratch = -1;
} // namespace

int as_file(const char *name, const std::uint8_t *data, std::size_t size)
{
    if (scratch < 0) {
        char path[64];
        std::snprintf(path, sizeof path, "/dev/shm/watchdog-fuzz-%d", getpid());
        mkdir(path, 0700);
        scratch = open(path, O_RDONLY | O_DIRECTORY);
        if (scratch < 0)
            std::abort();
    }
    const int fd = openat(scratch, name, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    close(fd);
    return scratch;
}

void expect_one_of(const Reading &reading, std::initializer_list<const char *> allowed)
{
    if (reading.error == nullptr)
        return;
    for (const char *message : allowed)
        if (reading.error == message)
            return;
    std::fprintf(stderr, "failed with a message not the reader's: %s\n", reading.error);
    std::abort();
}

} // namespace fuzz
