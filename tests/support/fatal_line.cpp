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

std::string fatal_line(const char *message)
{
    return std::string("Browser controller: fatal error (") + message +
           "), exiting...\n";
}

} // namespace support
