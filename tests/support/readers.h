// Table checks for the /proc readers: each content is written, under the
// reader's own file name, to a directory of chosen files whose handle the
// reader is given, as the binary gives it /proc or /proc/PID.
#ifndef TESTS_SUPPORT_READERS_H
#define TESTS_SUPPORT_READERS_H

#include <cstdint>
#include <initializer_list>
#include <string>

#include "procinfo/procinfo.h"

namespace support {

using Reader = Reading (*)(int dir);

struct Read {
    std::string content;
    std::uint64_t value;
};

struct Failed {
    std::string content;
    const char *error;  // the catalogue's pointer itself
};

// Expects the reader to read each content, as file, to its value.
void expect_reads(Reader reader, const char *file, std::initializer_list<Read> cases);

// Expects the reader to fail on each content with its message, and on a
// directory without the file with missing_error.
void expect_failed_reads(Reader reader, const char *file, std::initializer_list<Failed> cases,
                         const char *missing_error);

// The reader on one content, as file in a fresh directory.
Reading read_content(Reader reader, const char *file, const std::string &content);

} // namespace support

#endif
