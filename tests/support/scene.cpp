#include "scene.h"

#include <csignal>

#include <gtest/gtest.h>

#include "display.h"
#include "fatal_line.h"

namespace support {

namespace {
const std::string scene_meminfo = "MemTotal:      100000 kB\nMemFree:  5000 kB\n";
const std::string swaps =
    "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
    "/swapfile                               file\t\t20000\t\t0\t\t-2\n";
} // namespace

unsigned long limit_pages()
{
    return limit_kib / page_kib();
}

std::string statm(unsigned long pages)
{
    return std::to_string(pages) + " 100 50 10 0 40 0\n";
}

std::string status(unsigned long rss_kib, unsigned long swap_kib)
{
    // VmSwap lies past the first 1024 bytes, as in a real status file.
    std::string groups = "Groups:";
    for (int g = 1000; g < 1200; ++g)
        groups += " " + std::to_string(g);
    return "Name:\tstand-in\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t42\n" + groups +
           "\nVmPeak:\t   20000 kB\nVmSize:\t   19988 kB\nVmLck:\t       0 kB\n"
           "VmHWM:\t   12000 kB\nVmRSS:\t" + std::to_string(rss_kib) +
           " kB\nRssAnon:\t    4000 kB\nVmData:\t    8000 kB\nVmPTE:\t      48 kB\n"
           "VmSwap:\t" + std::to_string(swap_kib) + " kB\nThreads:\t1\n";
}

std::string meminfo(unsigned long free_kib, unsigned long available_kib,
                    unsigned long active_file_kib, unsigned long inactive_file_kib,
                    unsigned long reclaimable_kib, unsigned long swap_free_kib)
{
    // "Key:", the value right-aligned as the kernel writes it, " kB".
    const auto line = [](const std::string &key, unsigned long kib) {
        const std::string value = std::to_string(kib);
        const std::size_t width = key.size() + value.size() < 23 ? 23 - key.size() - value.size() : 1;
        return key + ":" + std::string(width, ' ') + value + " kB\n";
    };
    return line("MemTotal", 100000) + line("MemFree", free_kib) +
           line("MemAvailable", available_kib) + line("Buffers", 516) + line("Cached", 15256) +
           line("Active", 4260) + line("Active(file)", active_file_kib) +
           line("Inactive(file)", inactive_file_kib) + line("SwapTotal", 20000) +
           line("SwapFree", swap_free_kib) + line("Shmem", 4) +
           line("KReclaimable", reclaimable_kib) + line("Slab", 9264) +
           line("SReclaimable", 99999) + line("CommitLimit", 90276);
}

void Scene::count_headroom(const std::string &device, const std::string &x_status,
                           const std::string &browser_status)
{
    count_resident(x_status, browser_status);
    options.env = {{"BROWSER_WATCHDOG_COUNT", "headroom"}};
    dir.write("meminfo", device);
}

void Scene::count_resident(const std::string &x_status, const std::string &browser_status)
{
    options.env = {{"BROWSER_WATCHDOG_COUNT", "resident"}};
    dir.write("x.status", x_status);
    dir.write("browser.status", browser_status);
    options.mounts.push_back(
        {dir.path("x.status"), "/proc/" + std::to_string(x.pid) + "/status"});
    options.mounts.push_back(
        {dir.path("browser.status"), "/proc/" + std::to_string(browser.pid) + "/status"});
}

Scene::Scene(unsigned long x_pages, unsigned long browser_pages,
             const std::vector<std::string> &browser_command)
    : browser(browser_command)
{
    dir.write("x.statm", statm(x_pages));
    dir.write("browser.statm", statm(browser_pages));
    options.args = {std::to_string(x.pid), std::to_string(browser.pid), "1"};
    options.mounts = {
        {dir.write("meminfo", scene_meminfo), "/proc/meminfo"},
        {dir.write("swaps", swaps), "/proc/swaps"},
        {dir.path("x.statm"), "/proc/" + std::to_string(x.pid) + "/statm"},
        {dir.path("browser.statm"), "/proc/" + std::to_string(browser.pid) + "/statm"},
    };
}

std::string Scene::startup() const
{
    return log_line("x_pid=" + std::to_string(x.pid) + ", moz_pid=" +
                    std::to_string(browser.pid) +
                    ", total_memory=120000, memory_diff=1024");
}

std::string Scene::signalled(int sig, const char *outcome) const
{
    return log_line("signalling process " + std::to_string(browser.pid) + " (" +
                    std::to_string(sig) + ")... " + outcome);
}

std::string Scene::fired(unsigned long x_pages, unsigned long browser_pages,
                         const char *outcome) const
{
    // 64-bit: a terabyte sum must not wrap on a 32-bit target.
    const unsigned long long kib = page_kib();
    return fired_kib(x_pages * kib, browser_pages * kib, outcome);
}

std::string Scene::fired_kib(unsigned long long x_kib, unsigned long long browser_kib,
                             const char *outcome) const
{
    return fired_count(x_kib + browser_kib, x_kib, browser_kib, outcome);
}

std::string Scene::fired_count(unsigned long long memory_kib, unsigned long long x_kib,
                               unsigned long long browser_kib, const char *outcome) const
{
    return log_line("memory limit exceeded, memory=" + std::to_string(memory_kib) +
                    " (X=" + std::to_string(x_kib) +
                    ", durezezur=" + std::to_string(browser_kib) + ")") +
           signalled(SIGSTOP, outcome) + log_line("showing confirmation dialog");
}

std::string Scene::answered(const char *outcome) const
{
    return signalled(SIGCONT, outcome) + signalled(SIGKILL, outcome);
}

int Scene::answer()
{
    const unsigned long window = find_window("Error", 5);
    if (window == 0 || !click_dialog_button(window) || !wait_end(w, 5))
        return -1;
    return exit_code(w);
}

void Scene::expect_x_untouched()
{
    EXPECT_EQ(process_state(x.pid), 'S') << "the X server is never signalled";
}

} // namespace support
