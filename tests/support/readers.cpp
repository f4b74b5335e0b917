#include "readers.h"

#include "fatal_line.h"
#include "files.h"

namespace support {

void expect_reads(Reader reader, std::initializer_list<Read> cases)
{
    TempDir dir;
    for (const Read &c : cases)
        EXPECT_EQ(reader(dir.write("input", c.content).c_str()), c.value) << c.content;
}

void expect_fatal_reads(Reader reader, std::initializer_list<Fatal> cases,
                        const char *missing_message)
{
    TempDir dir;
    for (const Fatal &c : cases) {
        const std::string path = dir.write("input", c.content);
        EXPECT_FATAL(reader(path.c_str()), c.message) << c.content;
    }
    if (missing_message != nullptr) {
        EXPECT_FATAL(reader(dir.path("missing").c_str()), missing_message);
    }
}

} // namespace support
