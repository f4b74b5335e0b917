// Arbitrary bytes as /proc/PID/statm: a number or a statm fatal line.
#include <fcntl.h>

#include "fuzz.h"
#include "procinfo/procinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *path = fuzz::as_file(data, size);
    FUZZ_READER(read_process_memory(AT_FDCWD, path), statm_read_error, statm_parse_error);
    return 0;
}
