// Arbitrary bytes as a process's status: VmRSS plus VmSwap, or a status
// message.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int dir = fuzz::as_file("status", data, size);
    fuzz::expect_one_of(read_process_resident(dir), {status_read_error, status_parse_error});
    return 0;
}
