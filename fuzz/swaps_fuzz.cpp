// Arbitrary bytes as /proc/swaps: a number (0 included) or a swaps fatal
// line.
#include "fuzz.h"
#include "procinfo/procinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *path = fuzz::as_file(data, size);
    FUZZ_READER(read_swap_size(path), swap_read_error, swap_parse_error);
    return 0;
}
