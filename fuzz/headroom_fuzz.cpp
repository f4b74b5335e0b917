// Arbitrary bytes as meminfo for what the device has left: a figure or a
// meminfo message.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int dir = fuzz::as_file("meminfo", data, size);
    fuzz::expect_one_of(read_device_left(dir, 65532), {mem_read_error, mem_parse_error});
    return 0;
}
