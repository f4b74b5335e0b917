// The stage for the end-to-end tests: two stand-ins, an X server's and a
// browser's, with chosen /proc files laid over theirs for the watchdog
// alone, and the lines the watchdog is expected to write about them.
#ifndef TESTS_SUPPORT_SCENE_H
#define TESTS_SUPPORT_SCENE_H

#include <string>
#include <vector>

#include "files.h"
#include "process.h"

namespace support {

constexpr double period = 3.0;  // seconds between two checks

// RAM 100000 KiB plus one swap area of 20000 KiB, reserve 1 MiB: the
// limit is 118976 KiB, a multiple of every page size the kernel uses.
constexpr unsigned long limit_kib = 118976;

// The limit in pages of this kernel.
unsigned long limit_pages();

// A statm line with the given total size.
std::string statm(unsigned long pages);

// A status file as the kernel writes it, with the given VmRSS and VmSwap.
std::string status(unsigned long rss_kib, unsigned long swap_kib);

// A meminfo of RAM 100000 KiB, as the kernel writes it, with the figures
// the device's headroom is made of: free RAM, MemAvailable (which must not
// count), the file pages, reclaimable kernel memory, and swap: the one
// area of the scene's swaps (20000 KiB, swap_free of it free).
std::string meminfo(unsigned long free_kib, unsigned long available_kib,
                    unsigned long active_file_kib, unsigned long inactive_file_kib,
                    unsigned long reclaimable_kib, unsigned long swap_free_kib);

struct Scene {
    TempDir dir;
    Standin x;
    Standin browser;
    Watchdog w;
    Options options;

    // browser_command: the browser's stand-in; empty for a resting one.
    Scene(unsigned long x_pages, unsigned long browser_pages,
          const std::vector<std::string> &browser_command = {});

    // Has the watchdog count resident plus swapped-out memory, with these
    // status files laid over the stand-ins'.
    void count_resident(const std::string &x_status, const std::string &browser_status);

    // Has the watchdog count what the device has left, on this meminfo,
    // with the resident count's status files for the limit line.
    void count_headroom(const std::string &device, const std::string &x_status,
                        const std::string &browser_status);

    std::string startup() const;
    std::string signalled(int sig, const char *outcome) const;
    // The limit line, the SIGSTOP line and the dialog line.
    std::string fired(unsigned long x_pages, unsigned long browser_pages,
                      const char *outcome) const;
    // The same for figures in KiB.
    std::string fired_kib(unsigned long long x_kib, unsigned long long browser_kib,
                          const char *outcome) const;
    // The same for a count that is not the sum of the two.
    std::string fired_count(unsigned long long memory_kib, unsigned long long x_kib,
                            unsigned long long browser_kib, const char *outcome) const;
    // The SIGCONT and SIGKILL lines.
    std::string answered(const char *outcome) const;

    void expect_x_untouched();

    // Answers the dialog with its OK button and waits for the watchdog's
    // end: its exit code, or -1 if there was no dialog or no end in time.
    int answer();
};

} // namespace support

#endif
