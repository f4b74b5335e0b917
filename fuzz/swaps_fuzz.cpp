// Arbitrary bytes as swaps: a size (0 included, with or without a warning)
// or a swaps message.
#include <cstdlib>

#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int dir = fuzz::as_file("swaps", data, size);
    const Reading reading = read_swap_size(dir);
    fuzz::expect_one_of(reading, {swap_parse_error});
    if (reading.warning != nullptr && reading.warning != swap_read_error &&
        reading.warning != swap_open_error)
        std::abort();
    return 0;
}
