#include "scene.h"

#include <csignal>

#include <gtest/gtest.h>

#include "fatal_line.h"

namespace support {

namespace {
const std::string meminfo = "MemTotal:      100000 kB\nMemFree:  5000 kB\n";
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

Scene::Scene(unsigned long x_pages, unsigned long browser_pages,
             const std::vector<std::string> &browser_command)
    : browser(browser_command)
{
    dir.write("x.statm", statm(x_pages));
    dir.write("browser.statm", statm(browser_pages));
    options.args = {std::to_string(x.pid), std::to_string(browser.pid), "1"};
    options.mounts = {
        {dir.write("meminfo", meminfo), "/proc/meminfo"},
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
    const unsigned long long kib = page_kib();
    return log_line("memory limit exceeded, memory=" +
                    std::to_string((x_pages + browser_pages) * kib) +
                    " (X=" + std::to_string(x_pages * kib) +
                    ", durezezur=" + std::to_string(browser_pages * kib) + ")") +
           signalled(SIGSTOP, outcome) + log_line("showing confirmation dialog");
}

std::string Scene::answered(const char *outcome) const
{
    return signalled(SIGCONT, outcome) + signalled(SIGKILL, outcome);
}

void Scene::expect_x_untouched()
{
    EXPECT_EQ(process_state(x.pid), 'S') << "the X server is never signalled";
}

} // namespace support
