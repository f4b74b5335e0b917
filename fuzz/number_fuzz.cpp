// parse_number against a plain model of a 32-bit strtoul: the same value,
// and a failure, the value untouched, exactly when the magnitude does not
// fit 32 bits.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "procinfo/procinfo.h"

namespace {

struct Model {
    bool overflows;
    std::uint32_t value;
};

Model model(const char *text)
{
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    std::uint64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(*text - '0');
        if (magnitude > UINT32_MAX)
            return {true, 0};
    }
    const auto value = static_cast<std::uint32_t>(magnitude);
    return {false, negative ? 0u - value : value};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    char text[128];
    if (size >= sizeof text)
        return 0;
    std::memcpy(text, data, size);
    text[size] = '\0';

    const Model expected = model(text);
    std::uint32_t value = 7;
    const bool converted = parse_number(text, value);
    if (converted == expected.overflows)
        std::abort();
    if (converted ? value != expected.value : value != 7)
        std::abort();
    return 0;
}
