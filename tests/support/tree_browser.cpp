// A stand-in browser that is a tree: it forks a child, and each marks its
// end by SIGTERM with a file, as a browser's own handler would run, which
// must never run for a browser frozen at the limit. On SIGUSR1 the parent
// grows by GROW_MIB at once, touching every page. Both sleep until killed.
//
//   tree_browser DIR GROW_MIB
//
// writes DIR/child, the child's pid, once it is forked; on SIGTERM,
// DIR/term-PID.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

const char *dir;
volatile std::sig_atomic_t grow = 0;
// Kept where the compiler must assume it is read: else the memory it
// touches need not be taken at all.
void *volatile grown;

void on_term(int)
{
    char path[512];
    std::snprintf(path, sizeof path, "%s/term-%d", dir, getpid());
    std::FILE *mark = std::fopen(path, "w");
    if (mark != nullptr)
        std::fclose(mark);
    _exit(0);
}

void on_usr1(int)
{
    grow = 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    dir = argv[1];
    const long grow_mib = std::atol(argv[2]);
    std::signal(SIGTERM, on_term);
    std::signal(SIGUSR1, on_usr1);
    const pid_t child = fork();
    if (child == 0) {
        for (;;)
            pause();
    }
    char path[512];
    char whole[512];
    std::snprintf(path, sizeof path, "%s/child.part", dir);
    std::snprintf(whole, sizeof whole, "%s/child", dir);
    std::FILE *file = std::fopen(path, "w");
    if (file == nullptr)
        return 1;
    std::fprintf(file, "%d\n", child);
    // Whole, or not there at all.
    if (std::fclose(file) != 0 || std::rename(path, whole) != 0)
        return 1;
    while (grow == 0)
        pause();
    void *memory = std::malloc(static_cast<std::size_t>(grow_mib) << 20);
    if (memory != nullptr)
        std::memset(memory, 1, static_cast<std::size_t>(grow_mib) << 20);
    grown = memory;
    for (;;)
        pause();
}
