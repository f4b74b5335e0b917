#include "fatal_line.h"

#include <cstring>

namespace support {

std::string exact_regex(const std::string &text)
{
    std::string regex = "^";
    for (char c : text) {
        if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr)
            regex += '\\';
        regex += c;
    }
    return regex + "$";
}

std::string log_line(const std::string &text)
{
    return "Browser controller: " + text + "\n";
}

std::string fatal_line(const char *message)
{
    return log_line(std::string("fatal error (") + message + "), exiting...");
}

} // namespace support
