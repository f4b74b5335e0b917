#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace support {

TempDir::TempDir()
{
    char name[] = "/tmp/watchdog-test-XXXXXX";
    if (mkdtemp(name) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    chmod(name, 0755);
    dir = name;
}

TempDir::~TempDir()
{
    const std::string command = "rm -rf '" + dir + "'";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "cannot remove " << dir;
}

std::string TempDir::path(const std::string &name) const
{
    return dir + "/" + name;
}

std::string TempDir::write(const std::string &name, const std::string &content) const
{
    const std::string file_path = path(name);
    FILE *file = std::fopen(file_path.c_str(), "w");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot write " << file_path;
        return file_path;
    }
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    chmod(file_path.c_str(), 0644);
    return file_path;
}

std::string read_file(const std::string &path)
{
    std::string content;
    FILE *file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return content;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, n);
    std::fclose(file);
    return content;
}

namespace {
double monotonic_now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
} // namespace

Fifo::Fifo(const std::string &fifo_path) : path(fifo_path)
{
    unlink(path.c_str());
    if (mkfifo(path.c_str(), 0644) != 0)
        ADD_FAILURE() << "cannot make the FIFO " << path;
    closes = inotify_init1(IN_CLOEXEC);
    if (closes < 0 || inotify_add_watch(closes, path.c_str(), IN_CLOSE_NOWRITE) < 0)
        ADD_FAILURE() << "cannot watch the FIFO " << path;
}

Fifo::~Fifo()
{
    if (closes >= 0)
        close(closes);
}

double Fifo::serve(const std::string &content, double seconds)
{
    const double deadline = monotonic_now() + seconds;
    // Without a reader a non-blocking open for writing fails: until one
    // opens it, look again every millisecond. The last reader has closed
    // it (below), so a reader now is a new one.
    int fd;
    while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        if (errno != ENXIO || monotonic_now() > deadline)
            return -1;
        usleep(1000);
    }
    const double when = monotonic_now();
    const bool written =
        write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    close(fd);
    // The reader takes it and closes the FIFO.
    for (;;) {
        const double left = deadline - monotonic_now();
        pollfd pfd{closes, POLLIN, 0};
        if (left <= 0 || poll(&pfd, 1, static_cast<int>(left * 1000) + 1) <= 0)
            return -1;
        alignas(inotify_event) char events[4096];
        const ssize_t n = read(closes, events, sizeof events);
        if (n > 0)
            break;
    }
    return written ? when : -1;
}

unsigned long machine_ram_kib()
{
    unsigned long kib = 0;
    if (std::sscanf(read_file("/proc/meminfo").c_str(), "MemTotal: %lu kB", &kib) != 1)
        ADD_FAILURE() << "no MemTotal in /proc/meminfo";
    return kib;
}

unsigned long machine_swap_kib()
{
    const std::string swaps = read_file("/proc/swaps");
    const std::size_t area = swaps.find('\n');
    unsigned long kib = 0;
    if (area != std::string::npos && area + 1 < swaps.size() &&
        std::sscanf(swaps.c_str() + area + 1, "%*s %*s %lu", &kib) != 1)
        ADD_FAILURE() << "cannot read the first swap area";
    return kib;
}

} // namespace support
