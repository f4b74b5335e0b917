// Arbitrary bytes as /proc/PID/status: VmRSS plus VmSwap, or a status fatal
// line.
#include <fcntl.h>

#include "fuzz.h"
#include "procinfo/procinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *path = fuzz::as_file(data, size);
    FUZZ_READER(read_process_resident(AT_FDCWD, path), status_read_error, status_parse_error);
    return 0;
}
