// The integrator's settings file: NAME=VALUE lines, read as they stand,
// never given to a shell, each a default the environment overrides.
#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session/session.h"

namespace {

// Every variable the session reads, and PATH, where it finds the browser;
// not SESSION_PROC, a test's, which only the environment gives: the
// watchdog reads the real /proc whatever the file says.
constexpr const char *settings_names[] = {
    "BROWSER",        "START_PAGE",   "RESERVE_MIB",
    "BROWSER_WATCHDOG_COUNT", "BROWSER_WATCHDOG_PERIOD", "BROWSER_WATCHDOG_DIALOG",
    "SESSION_LOG",    "SESSION_ONCE",
    "PATH",
};

// A file of up to 8191 bytes, and its terminating NUL, with a byte to spare
// that tells a longer one.
char text[8193];
constexpr char unknown_name[] = "is not a setting of browser-session";
constexpr char environment_only[] = "is taken from the environment only";

bool known(const char *name, std::size_t length)
{
    return std::any_of(std::begin(settings_names), std::end(settings_names),
                       [&](const char *known_name) {
                           return std::strlen(known_name) == length &&
                                  std::memcmp(known_name, name, length) == 0;
                       });
}

bool name_char(char c, bool first)
{
    return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (!first && c >= '0' && c <= '9');
}

// Why line, of length bytes, cannot be read; nullptr when it can (and then
// name and value are its parts, value terminated in place).
const char *parse_line(char *line, std::size_t length, char *&name, std::size_t &name_length,
                       char *&value)
{
    if (std::memchr(line, '\0', length) != nullptr)
        return "it holds a NUL byte";
    // A file written with DOS line ends: said, never taken into a value.
    if (std::memchr(line, '\r', length) != nullptr)
        return "it holds a carriage return (the file has DOS line ends?)";
    std::size_t i = 0;
    while (i < length && name_char(line[i], i == 0))
        ++i;
    if (i == 0 || i == length || line[i] != '=')
        return "it is not NAME=VALUE";
    name = line;
    name_length = i;
    value = line + i + 1;
    line[length] = '\0';
    // A shell would take these away; here they would stay in the value.
    if (std::strpbrk(value, "\"'`\\") != nullptr)
        return "its value holds a quote or a backslash, and values are taken as they stand";
    if (name_length == 12 && std::memcmp(name, "SESSION_PROC", 12) == 0)
        return environment_only;
    if (!known(name, name_length))
        return unknown_name;
    return nullptr;
}

} // namespace

const char *read_defaults_file()
{
    static char problem[640];
    const char *path = setting("SESSION_SETTINGS", default_settings_file);
    const long n = read_regular(path, text, sizeof text);
    if (n == cannot_open && errno == ENOENT)
        return nullptr;
    if (n == not_regular) {
        std::snprintf(problem, sizeof problem, "cannot read %s: it is not a regular file", path);
        return problem;
    }
    if (n < 0) {
        std::snprintf(problem, sizeof problem, "cannot read %s: %s", path, std::strerror(errno));
        return problem;
    }
    // What a read of the whole buffer leaves out may be more.
    const auto size = static_cast<std::size_t>(n);
    if (size == sizeof text - 1) {
        std::snprintf(problem, sizeof problem, "%s is longer than %zu bytes", path,
                      sizeof text - 2);
        return problem;
    }

    // Every line that can be read is taken before a bad one is told, so
    // that the refusal goes where SESSION_LOG says.
    const char *bad_reason = nullptr;
    unsigned number = 0;
    const char *cursor = text;
    for (Line line; next_line(cursor, text + size, line);) {
        ++number;
        char *start = text + (skip_spaces(line.start) - text);
        char *end = text + (line.end - text);
        if (start == end || *start == '#')
            continue;
        char *name = nullptr;
        char *value = nullptr;
        std::size_t name_length = 0;
        const char *reason = parse_line(start, static_cast<std::size_t>(end - start), name,
                                        name_length, value);
        if (reason != nullptr) {
            if (bad_reason == nullptr) {
                bad_reason = reason;
                if (reason == unknown_name || reason == environment_only)
                    std::snprintf(problem, sizeof problem, "%s, line %u: %.*s %s", path, number,
                                  static_cast<int>(name_length), name, reason);
                else
                    std::snprintf(problem, sizeof problem, "%s, line %u: %s", path, number,
                                  reason);
            }
            continue;
        }
        name[name_length] = '\0';
        if (*setting(name, "") == '\0')
            setenv(name, value, 1);
    }
    return bad_reason != nullptr ? problem : nullptr;
}
