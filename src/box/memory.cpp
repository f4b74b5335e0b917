// The box's memory controller: what the box holds, and the tripwire the
// kernel fires when it grows past a point. Its files are kept open, so
// that a check reads them with one pread each.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "box/box.h"
#include "procinfo/procinfo.h"

namespace {

int open_at(int dir, const char *name, int flags)
{
    return dir < 0 ? -1 : openat(dir, name, flags | O_CLOEXEC);
}

// A figure of bytes, read from the start of fd, in KiB.
bool read_kib(int fd, std::uint64_t &kib)
{
    char text[32];
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return false;
    const char *end = static_cast<const char *>(std::memchr(text, '\n', static_cast<std::size_t>(n)));
    std::uint64_t bytes = 0;
    if (!parse_decimal(text, end != nullptr ? end : text + n, UINT64_MAX, bytes))
        return false;
    kib = bytes / 1024;
    return true;
}

bool write_bytes(int fd, std::uint64_t kib)
{
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%" PRIu64, kib * 1024);
    return n > 0 && pwrite(fd, text, static_cast<std::size_t>(n), 0) == n;
}

} // namespace

bool memory_open(const Box &box, BoxMemory &memory)
{
    memory = no_memory;
    if (box.v2_memory) {
        memory.usage = open_at(box.v2, "memory.current", O_RDONLY);
        memory.swap_usage = open_at(box.v2, "memory.swap.current", O_RDONLY);
        memory.high = open_at(box.v2, "memory.high", O_WRONLY);
        memory.events = open_at(box.v2, "memory.events", O_RDONLY);
        return memory.usage >= 0 && memory.high >= 0 && memory.events >= 0;
    }
    if (box.v1_memory >= 0) {
        memory.v1 = true;
        memory.usage = open_at(box.v1_memory, "memory.memsw.usage_in_bytes", O_RDONLY);
        if (memory.usage < 0)
            memory.usage = open_at(box.v1_memory, "memory.usage_in_bytes", O_RDONLY);
        memory.event_control = open_at(box.v1_memory, "cgroup.event_control", O_WRONLY);
        return memory.usage >= 0 && memory.event_control >= 0;
    }
    return false;
}

bool memory_usage(const BoxMemory &memory, std::uint64_t &kib)
{
    return memory.usage >= 0 && read_kib(memory.usage, kib);
}

bool memory_swap(const BoxMemory &memory, std::uint64_t &kib)
{
    kib = 0;
    return memory.swap_usage < 0 || read_kib(memory.swap_usage, kib);
}

bool memory_set_tripwire(BoxMemory &memory, std::uint64_t kib)
{
    if (!memory.v1)
        return memory.high >= 0 && write_bytes(memory.high, kib);
    // A threshold cannot be moved: a new one, on a new eventfd, and the
    // old one goes with its eventfd.
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return false;
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%d %d %" PRIu64, fd, memory.usage, kib * 1024);
    if (n <= 0 || write(memory.event_control, text, static_cast<std::size_t>(n)) != n) {
        close(fd);
        return false;
    }
    if (memory.events >= 0)
        close(memory.events);
    memory.events = fd;
    return true;
}

void memory_rearm(const BoxMemory &memory)
{
    char text[256];
    if (memory.events < 0)
        return;
    if (memory.v1) {
        std::uint64_t count = 0;
        if (read(memory.events, &count, sizeof count) < 0)
            return;
    } else if (pread(memory.events, text, sizeof text, 0) < 0) {
        return;
    }
}
