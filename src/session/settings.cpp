// The session's settings, from its environment and its settings file, read
// once at start.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "session/session.h"

namespace {

Settings the_settings;

constexpr std::size_t max_words = 64;
char words[4096];
char *browser_words[max_words + 1];
char given_text[24];
// A reserve beyond this many MiB leaves no limit on any machine.
constexpr std::uint64_t reserve_most_mib = std::uint64_t{1} << 40;

// BROWSER into words, at spaces, tabs and newlines, as sh splits it, and
// START_PAGE after them.
void split_browser()
{
    const char *command = setting("BROWSER", "dillo");
    the_settings.browser_command = command;
    if (std::strlen(command) >= sizeof words)
        refuse("BROWSER is longer than %zu bytes: not starting the browser", sizeof words - 1);
    std::memcpy(words, command, std::strlen(command) + 1);
    std::size_t n = 0;
    for (char *word = std::strtok(words, " \t\n"); word != nullptr;
         word = std::strtok(nullptr, " \t\n")) {
        if (n == max_words)
            refuse("BROWSER has more than %zu words: not starting the browser", max_words);
        browser_words[n++] = word;
    }
    // The page every browser opens, as a kiosk's start page.
    const char *page = setting("START_PAGE", nullptr);
    if (page != nullptr) {
        if (n >= max_words)
            refuse("BROWSER has %zu words, and START_PAGE makes one more: not starting the "
                   "browser", max_words);
        else
            browser_words[n++] = const_cast<char *>(page);
    }
    browser_words[n] = nullptr;
    the_settings.browser_argv = browser_words;
}

// The count, the period and the dialog the watchdog is to take, exported
// for it; refuses any it would not take. The session's watchdog counts
// what the device has left, with the period that shortens near the limit,
// and prepares its dialog in advance, unless told otherwise.
void choose_watchdog_settings()
{
    // The watchdog would refuse any other count or period at every start,
    // leaving every browser unwatched.
    const char *count = setting("BROWSER_WATCHDOG_COUNT", count_of(CountKind::headroom)->name);
    the_settings.count = find_count(count);
    if (the_settings.count == nullptr)
        refuse("BROWSER_WATCHDOG_COUNT=%s is none of headroom, resident and size: not "
               "starting the browser", count);
    const char *period = setting("BROWSER_WATCHDOG_PERIOD", "adaptive");
    if (std::strcmp(period, "adaptive") != 0 && std::strcmp(period, "fixed") != 0)
        refuse("BROWSER_WATCHDOG_PERIOD=%s is neither adaptive nor fixed: not starting the "
               "browser", period);
    const char *dialog = setting("BROWSER_WATCHDOG_DIALOG", "ready");
    if (std::strcmp(dialog, "ready") != 0 && std::strcmp(dialog, "plain") != 0)
        refuse("BROWSER_WATCHDOG_DIALOG=%s is neither ready nor plain: not starting the "
               "browser", dialog);
    setenv("BROWSER_WATCHDOG_COUNT", count, 1);
    setenv("BROWSER_WATCHDOG_PERIOD", period, 1);
    setenv("BROWSER_WATCHDOG_DIALOG", dialog, 1);
    the_settings.adaptive = std::strcmp(period, "adaptive") == 0;
    if (!the_settings.adaptive)
        return;
    // The watchdog, of this user and these rights, asks the same /proc.
    const int real_proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = errno;
    const int trigger = real_proc < 0 ? -1 : open_pressure_trigger(real_proc, error);
    the_settings.trigger_error = trigger >= 0 ? 0 : error;
    if (trigger >= 0)
        close(trigger);
    if (real_proc >= 0)
        close(real_proc);
}

// RESERVE_MIB, when given: a whole number of MiB, leading zeros read as a
// number's, as the watchdog reads them.
void take_given_reserve()
{
    const char *text = setting("RESERVE_MIB", nullptr);
    the_settings.given = text != nullptr;
    if (text == nullptr)
        return;
    const std::size_t length = std::strlen(text);
    if (std::strspn(text, "0123456789") != length)
        refuse("RESERVE_MIB=%s is not a whole number of MiB: not starting the browser", text);
    while (text[0] == '0' && text[1] != '\0')
        ++text;
    std::snprintf(given_text, sizeof given_text, "%.20s", text);
    the_settings.given_text = given_text;
    if (!parse_decimal(text, text + std::strlen(text), reserve_most_mib, the_settings.given_mib))
        the_settings.given_mib = reserve_most_mib;
}

} // namespace

const Settings &settings = the_settings;

const char *setting(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

bool find_command(const char *name, char *path, std::size_t size)
{
    const auto runnable = [](const char *file) {
        struct stat st;
        return stat(file, &st) == 0 && S_ISREG(st.st_mode) && access(file, X_OK) == 0;
    };
    if (std::strchr(name, '/') != nullptr) {
        std::snprintf(path, size, "%s", name);
        return runnable(path);
    }
    // Where execvp looks when PATH is unset: the C library's own.
    static char default_path[64];
    if (default_path[0] == '\0' && confstr(_CS_PATH, default_path, sizeof default_path) == 0)
        std::snprintf(default_path, sizeof default_path, "/bin:/usr/bin");
    // An empty entry of PATH is the working directory.
    const char *dirs = setting("PATH", default_path);
    for (const char *dir = dirs;; ++dir) {
        const char *end = std::strchr(dir, ':');
        const int length = static_cast<int>(end != nullptr ? end - dir : std::strlen(dir));
        const int n = length == 0 ? std::snprintf(path, size, "%s", name)
                                  : std::snprintf(path, size, "%.*s/%s", length, dir, name);
        if (n > 0 && static_cast<std::size_t>(n) < size && runnable(path))
            return true;
        if (end == nullptr)
            return false;
        dir = end;
    }
}

void read_settings()
{
    const char *problem = read_defaults_file();
    const char *log = setting("SESSION_LOG", "stdout");
    start_log(log);
    the_settings.to_syslog = std::strcmp(log, "syslog") == 0;
    if (problem != nullptr)
        refuse("%s: not starting the browser", problem);
    char path[4096];
    const char *search = setting("PATH", "");
    // Without the watchdog every browser would run unwatched.
    if (!find_command("browser-watchdog", path, sizeof path))
        refuse("no browser-watchdog in PATH (%s): not starting the browser unwatched", search);
    split_browser();
    const char *first = browser_words[0] != nullptr ? browser_words[0] : "";
    if (*first == '\0' || !find_command(first, path, sizeof path))
        refuse("BROWSER=%s: no command %s in PATH (%s): not starting the browser",
               the_settings.browser_command, first, search);

    the_settings.once = *setting("SESSION_ONCE", "") != '\0';
    // The tests' fake /proc: from the environment only, never the file.
    const char *proc = std::getenv("SESSION_PROC");
    the_settings.proc_name = proc != nullptr && *proc != '\0' ? proc : "/proc";
    the_settings.proc = open(the_settings.proc_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    the_settings.x = find_x_server();
    box_find_place(the_settings.proc, the_settings.box);
    choose_watchdog_settings();
    take_given_reserve();
}
