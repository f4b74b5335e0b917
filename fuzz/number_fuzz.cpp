// parse_number against a plain model of a 32-bit strtoul: the same value,
// and a failure, the value untouched, exactly when the magnitude does not
// fit 32 bits. parse_decimal against a model of digits alone, up to a bound
// the input's first byte chooses.
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

// Digits alone, at least one, at most most: the value, or false.
bool decimal_model(const char *text, std::size_t length, std::uint64_t most, std::uint64_t &value)
{
    unsigned __int128 number = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(text[i] - '0');
        if (number > most)
            return false;
    }
    value = static_cast<std::uint64_t>(number);
    return length > 0;
}

void check_decimal(const char *text, std::size_t length, std::uint8_t choice)
{
    constexpr std::uint64_t bounds[] = {UINT64_MAX, UINT64_MAX - 1, 4194304, 2147483647, 9, 0};
    const std::uint64_t most = bounds[choice % (sizeof bounds / sizeof bounds[0])];
    std::uint64_t expected = 0;
    const bool read = decimal_model(text, length, most, expected);
    std::uint64_t value = 7;
    if (parse_decimal(text, text + length, most, value) != read)
        std::abort();
    if (read ? value != expected : value != 7)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    char text[128];
    if (size >= sizeof text)
        return 0;
    std::memcpy(text, data, size);
    text[size] = '\0';

    if (size > 0)
        check_decimal(text + 1, size - 1, data[0]);
    const Model expected = model(text);
    std::uint32_t value = 7;
    const bool converted = parse_number(text, value);
    if (converted == expected.overflows)
        std::abort();
    if (converted ? value != expected.value : value != 7)
        std::abort();
    return 0;
}
