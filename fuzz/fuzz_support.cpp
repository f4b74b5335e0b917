// The fatal path for fuzzing, linked in place of the program's own: it
// returns to the fuzz target instead of ending the process.
#include "fuzz.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"

namespace fuzz {

std::jmp_buf on_fatal;
const char *fatal_message;

namespace {
FILE *open_stream_now;  // the reader's stream, between fopen and fclose
char scratch[64];
} // namespace

const char *as_file(const std::uint8_t *data, std::size_t size)
{
    if (scratch[0] == '\0')
        std::snprintf(scratch, sizeof scratch, "/dev/shm/watchdog-fuzz-%d", getpid());
    const int fd = open(scratch, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    close(fd);
    return scratch;
}

void close_abandoned_stream()
{
    if (open_stream_now != nullptr)
        std::fclose(open_stream_now);
}

void wrong_message(const char *message)
{
    std::fprintf(stderr, "fatal error with a message not the reader's: %s\n", message);
    std::abort();
}

} // namespace fuzz

void do_error(const char *message)
{
    fuzz::fatal_message = message;
    std::longjmp(fuzz::on_fatal, 1);
}

// The readers' streams, tracked through the linker's --wrap.
extern "C" {
FILE *__real_fopen(const char *path, const char *mode);
int __real_fclose(FILE *file);

FILE *__wrap_fopen(const char *path, const char *mode)
{
    fuzz::open_stream_now = __real_fopen(path, mode);
    return fuzz::open_stream_now;
}

int __wrap_fclose(FILE *file)
{
    if (file == fuzz::open_stream_now)
        fuzz::open_stream_now = nullptr;
    return __real_fclose(file);
}

// The log goes nowhere while fuzzing.
int LLVMFuzzerInitialize(int *, char ***)
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    return 0;
}
}
