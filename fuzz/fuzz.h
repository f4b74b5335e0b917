// Shared by the fuzz targets: the fatal path made to return to the target,
// and the input laid down as a file for the readers.
#ifndef FUZZ_FUZZ_H
#define FUZZ_FUZZ_H

#include <csetjmp>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// Where do_error returns to, and the message it was given.
extern std::jmp_buf on_fatal;
extern const char *fatal_message;

// Writes the input to this process's scratch file and returns its path.
const char *as_file(const std::uint8_t *data, std::size_t size);

// Closes the stream a reader left open when it gave up (the real fatal path
// leaves it to the end of the process).
void close_abandoned_stream();

// Ends the run as a crash: a reader gave up with a message not its own.
[[noreturn]] void wrong_message(const char *message);

} // namespace fuzz

// Runs `call` (an expression giving a number) on a fresh fatal path: on a
// fatal error, checks that the message is one of the allowed ones.
#define FUZZ_READER(call, ...)                                                 \
    do {                                                                       \
        if (setjmp(fuzz::on_fatal) == 0) {                                     \
            volatile auto result = (call);                                     \
            (void)result;                                                      \
        } else {                                                               \
            fuzz::close_abandoned_stream();                                    \
            const char *allowed[] = {__VA_ARGS__};                             \
            bool known = false;                                                \
            for (const char *m : allowed)                                      \
                known = known || m == fuzz::fatal_message;                     \
            if (!known)                                                        \
                fuzz::wrong_message(fuzz::fatal_message);                      \
        }                                                                      \
    } while (0)

#endif
