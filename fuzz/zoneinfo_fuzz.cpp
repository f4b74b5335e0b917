// Arbitrary bytes as zoneinfo for what the kernel keeps: a figure or a
// zoneinfo message, read a buffer at a time.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int dir = fuzz::as_file("zoneinfo", data, size);
    fuzz::expect_one_of(read_kernel_keep(dir), {zone_read_error, zone_parse_error});
    return 0;
}
