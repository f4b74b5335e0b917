// Arbitrary bytes as /proc/meminfo for what the device has left: a number
// or a meminfo fatal line.
#include "fuzz.h"
#include "procinfo/procinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *path = fuzz::as_file(data, size);
    FUZZ_READER(read_device_left(path, 65532), mem_read_error, mem_parse_error);
    return 0;
}
