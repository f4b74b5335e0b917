// The session's settings, from its environment and its settings file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "session/session.h"

const char *browser_command;
namespace {
constexpr std::size_t max_words = 64;
char words[4096];
} // namespace
char *browser_argv[max_words + 1];

const SessionCount *session_count;
char wakes_words[128];
int proc = -1;
const char *proc_name;
bool once;

namespace {

// The counts the watchdog takes, the first the session's default.
constexpr SessionCount counts[] = {
    {"headroom", true, "the meminfo fields"},
    {"resident", false, "the X server's status"},
    {"size", false, "the X server's status"},
};

// BROWSER into words, at spaces, tabs and newlines, as sh splits it.
void split_browser()
{
    browser_command = setting("BROWSER", "dillo");
    if (std::strlen(browser_command) >= sizeof words)
        refuse("BROWSER is longer than %zu bytes: not starting the browser", sizeof words - 1);
    std::memcpy(words, browser_command, std::strlen(browser_command) + 1);
    std::size_t n = 0;
    for (char *word = std::strtok(words, " \t\n"); word != nullptr;
         word = std::strtok(nullptr, " \t\n")) {
        if (n == max_words)
            refuse("BROWSER has more than %zu words: not starting the browser", max_words);
        browser_argv[n++] = word;
    }
    // The page every browser opens, as a kiosk's start page.
    const char *page = setting("START_PAGE", nullptr);
    if (page != nullptr) {
        if (n >= max_words)
            refuse("BROWSER has %zu words, and START_PAGE makes one more: not starting the "
                   "browser", max_words);
        else
            browser_argv[n++] = const_cast<char *>(page);
    }
    browser_argv[n] = nullptr;
}

} // namespace

const char *setting(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

bool counts_headroom()
{
    return session_count == &counts[0];
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
    // An empty entry of PATH is the working directory.
    const char *dirs = setting("PATH", "/usr/local/bin:/usr/bin:/bin");
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
    start_log();
    if (problem != nullptr)
        refuse("%s: not starting the browser", problem);
    char path[4096];
    const char *search = setting("PATH", "");
    // Without the watchdog every browser would run unwatched.
    if (!find_command("browser-watchdog", path, sizeof path))
        refuse("no browser-watchdog in PATH (%s): not starting the browser unwatched", search);
    split_browser();
    const char *first = browser_argv[0] != nullptr ? browser_argv[0] : "";
    if (*first == '\0' || !find_command(first, path, sizeof path))
        refuse("BROWSER=%s: no command %s in PATH (%s): not starting the browser",
               browser_command, first, search);

    once = *setting("SESSION_ONCE", "") != '\0';
    proc_name = setting("SESSION_PROC", "/proc");
    proc = open(proc_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void choose_watchdog_settings()
{
    // The watchdog would refuse any other count or period at every start,
    // leaving every browser unwatched.
    const char *count = setting("BROWSER_WATCHDOG_COUNT", counts[0].name);
    session_count = nullptr;
    for (const SessionCount &c : counts)
        if (std::strcmp(count, c.name) == 0)
            session_count = &c;
    if (session_count == nullptr)
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

    wakes_words[0] = '\0';
    if (std::strcmp(period, "adaptive") != 0)
        return;
    // The watchdog, of this user and these rights, asks the same /proc.
    const int real_proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = errno;
    const int trigger = real_proc < 0 ? -1 : open_pressure_trigger(real_proc, error);
    if (trigger >= 0)
        std::snprintf(wakes_words, sizeof wakes_words, "; checks on memory pressure too");
    else
        std::snprintf(wakes_words, sizeof wakes_words,
                      "; checks on its period alone (no memory pressure trigger: %s)",
                      std::strerror(error));
    if (trigger >= 0)
        close(trigger);
    if (real_proc >= 0)
        close(real_proc);
}
