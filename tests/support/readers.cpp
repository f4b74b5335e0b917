#include "readers.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "files.h"

namespace support {

namespace {

// The reader on the directory of dir.
Reading read_in(Reader reader, const TempDir &dir)
{
    const int handle = open(dir.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(handle, 0);
    const Reading reading = reader(handle);
    close(handle);
    return reading;
}

} // namespace

Reading read_content(Reader reader, const char *file, const std::string &content)
{
    TempDir dir;
    dir.write(file, content);
    return read_in(reader, dir);
}

void expect_reads(Reader reader, const char *file, std::initializer_list<Read> cases)
{
    for (const Read &c : cases) {
        const Reading reading = read_content(reader, file, c.content);
        EXPECT_EQ(reading.error, nullptr) << reading.error << " on " << c.content;
        EXPECT_EQ(reading.value, c.value) << c.content;
    }
}

void expect_failed_reads(Reader reader, const char *file, std::initializer_list<Failed> cases,
                         const char *missing_error)
{
    for (const Failed &c : cases)
        EXPECT_EQ(read_content(reader, file, c.content).error, c.error) << c.content;
    TempDir empty;
    EXPECT_EQ(read_in(reader, empty).error, missing_error);
}

} // namespace support
