// Death-test helpers for the fatal path, which logs to standard output.
#ifndef TESTS_SUPPORT_FATAL_LINE_H
#define TESTS_SUPPORT_FATAL_LINE_H

#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

namespace support {

// A POSIX extended regex that matches exactly `text`, anchored at both ends.
std::string exact_regex(const std::string &text);

// A log line: the prefix, the text and the newline.
std::string log_line(const std::string &text);

// The line do_error writes for message.
std::string fatal_line(const char *message);

} // namespace support

// Expects statement to write exactly `output` to standard output and to end
// the process with status 1.
#define EXPECT_FATAL_OUTPUT(statement, output)                                 \
    EXPECT_EXIT(                                                               \
        {                                                                      \
            dup2(STDERR_FILENO, STDOUT_FILENO);                                \
            statement;                                                         \
        },                                                                     \
        ::testing::ExitedWithCode(1), ::support::exact_regex(output))

// Expects statement to end the process with the fatal line for message.
#define EXPECT_FATAL(statement, message)                                       \
    EXPECT_FATAL_OUTPUT(statement, ::support::fatal_line(message))

#endif
