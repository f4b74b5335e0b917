// Shared by the fuzz targets: the input laid down as a /proc file for the
// readers, and the check of what they answered.
#ifndef FUZZ_FUZZ_H
#define FUZZ_FUZZ_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "procinfo/procinfo.h"

namespace fuzz {

// Writes the input as the file name in this process's scratch directory
// and returns the directory's handle, which the readers take.
int as_file(const char *name, const std::uint8_t *data, std::size_t size);

// Ends the run as a crash unless the reading is a figure or failed with
// one of the allowed messages (the catalogue's pointers themselves).
void expect_one_of(const Reading &reading, std::initializer_list<const char *> allowed);

} // namespace fuzz

#endif
