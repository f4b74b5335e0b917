// Table checks for the readers that take a path: each content is written
// to a file and handed to the reader.
#ifndef TESTS_SUPPORT_READERS_H
#define TESTS_SUPPORT_READERS_H

#include <cstdint>
#include <initializer_list>
#include <string>

namespace support {

using Reader = std::uint32_t (*)(const char *path);

struct Read {
    std::string content;
    std::uint32_t value;
};

struct Fatal {
    std::string content;
    const char *message;
};

// Expects the reader to return each value.
void expect_reads(Reader reader, std::initializer_list<Read> cases);

// Expects the reader to end the process with each fatal line and, when
// missing_message is given, with that one for a file that does not exist.
void expect_fatal_reads(Reader reader, std::initializer_list<Fatal> cases,
                        const char *missing_message = nullptr);

} // namespace support

#endif
