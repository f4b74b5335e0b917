// Arbitrary bytes as a process's statm: its size or a statm message.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int dir = fuzz::as_file("statm", data, size);
    fuzz::expect_one_of(read_process_pages(dir), {statm_read_error, statm_parse_error});
    return 0;
}
