// The device trial's instrument, run inside the guest for a whole arm:
//
//   device-probe DIR X_PID
//
// Three processes, each writing one file in DIR, line-buffered so that a
// guest that is powered off mid-arm still leaves what was seen:
//   memory     every 250 ms: "MS MEM_AVAILABLE_KIB SWAP_FREE_KIB X_RSS_KIB
//              UNBOOSTED_KIB BOOST_KIB": the last two are MemAvailable as
//              the kernel would give it without the boost of its zones'
//              watermarks (its own formula, on meminfo and zoneinfo of the
//              same moment), and that boost; -1 where unreadable
//   heartbeat  every pass of a 100 ms sleep loop: "MS GAP_MS"
//   x-rtt      every X round trip (XSync every 200 ms): "MS RTT_MS"
// MS is CLOCK_BOOTTIME in milliseconds, the clock of /proc/uptime and of the
// kernel's trace with trace_clock=boot; a line's gap or round trip ended at
// MS, so the host can cut every series to any window. SIGTERM ends all
// three; a round trip still waiting then is written as it stands, since a
// frozen display never answers. It reads only /proc/meminfo (once per
// sample, so both figures are of one moment) and the X server's status.
// Each process locks itself in memory: its own paging would otherwise
// count against the device it measures. Only the round-trip process loads
// Xlib (with dlopen), so that the other two lock no more than the C library.
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int64_t now_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

void sleep_ms(int64_t ms)
{
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    nanosleep(&ts, nullptr);
}

// Locks the calling process's pages in memory as it touches them (its
// working set, not every page of the libraries it maps); locks are not
// inherited across fork, so every process of the probe calls this itself.
void lock_memory()
{
    if (mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) != 0) {
        perror("device-probe: mlockall");
        _exit(1);
    }
}

FILE *open_out(const char *dir, const char *name)
{
    char path[512];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    FILE *f = fopen(path, "w");
    if (f == nullptr) {
        perror(path);
        _exit(1);
    }
    setvbuf(f, nullptr, _IOLBF, 0);
    return f;
}

// The values of the "Key: value kB" lines named in keys[0..n) of a /proc
// file, read in one pass; -1 for a key that is absent or unreadable.
void proc_fields(const char *path, const char *const keys[], long values[], int n)
{
    for (int i = 0; i < n; ++i)
        values[i] = -1;
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return;
    char line[256];
    while (fgets(line, sizeof line, f) != nullptr) {
        for (int i = 0; i < n; ++i) {
            const size_t len = strlen(keys[i]);
            if (strncmp(line, keys[i], len) == 0 && line[len] == ':')
                values[i] = strtol(line + len + 1, nullptr, 10);
        }
    }
    fclose(f);
}

// The zones' watermarks, summed over the zones, in KiB: the boost, the low
// watermark without it, and what the kernel reserves (each zone's high
// watermark without the boost plus its largest protection, at most the
// zone's pages), as si_mem_available() takes them; false if unreadable.
struct Zones {
    long boost = 0;
    long low = 0;
    long reserve = 0;
};

bool read_zones(Zones &zones, long page_kib)
{
    FILE *f = fopen("/proc/zoneinfo", "r");
    if (f == nullptr)
        return false;
    zones = Zones{};
    long boost = 0, low = 0, high = 0, managed = 0, protection = 0;
    bool in_zone = false;
    const auto end_zone = [&] {
        if (in_zone) {
            long reserved = high - boost + protection;
            if (reserved > managed)
                reserved = managed;
            zones.boost += boost;
            zones.low += low - boost;
            zones.reserve += reserved;
        }
        boost = low = high = managed = protection = 0;
    };
    char line[256];
    while (fgets(line, sizeof line, f) != nullptr) {
        char key[32];
        long value = 0;
        if (strncmp(line, "Node ", 5) == 0) {
            end_zone();
            in_zone = strstr(line, "zone") != nullptr;
        } else if (sscanf(line, " protection: (%ld", &value) == 1) {
            for (const char *p = strchr(line, '('); p != nullptr; p = strchr(p + 1, ',')) {
                const long v = strtol(p + 1, nullptr, 10);
                if (v > protection)
                    protection = v;
            }
        } else if (sscanf(line, " %31s %ld", key, &value) == 2) {
            if (strcmp(key, "boost") == 0)
                boost = value;
            else if (strcmp(key, "low") == 0)
                low = value;
            else if (strcmp(key, "high") == 0)
                high = value;
            else if (strcmp(key, "managed") == 0)
                managed = value;
        }
    }
    end_zone();
    fclose(f);
    zones.boost *= page_kib;
    zones.low *= page_kib;
    zones.reserve *= page_kib;
    return true;
}

[[noreturn]] void run_memory(const char *dir, const char *x_pid)
{
    lock_memory();
    FILE *out = open_out(dir, "memory");
    char status[64];
    snprintf(status, sizeof status, "/proc/%s/status", x_pid);
    const long page_kib = sysconf(_SC_PAGESIZE) / 1024;
    static const char *const mem_keys[] = {"MemAvailable", "SwapFree", "MemFree", "Active(file)",
                                           "Inactive(file)", "KReclaimable"};
    static const char *const x_keys[] = {"VmRSS"};
    for (;;) {
        long mem[6];
        long x_rss;
        Zones zones;
        const bool zoned = read_zones(zones, page_kib);
        proc_fields("/proc/meminfo", mem_keys, mem, 6);
        proc_fields(status, x_keys, &x_rss, 1);
        // si_mem_available() with the low watermark unboosted.
        long unboosted = -1;
        if (zoned && mem[2] >= 0 && mem[3] >= 0 && mem[4] >= 0 && mem[5] >= 0) {
            const long cache = mem[3] + mem[4];
            const long reclaimable = mem[5];
            unboosted = mem[2] - zones.reserve + cache - std::min(cache / 2, zones.low) +
                        reclaimable - std::min(reclaimable / 2, zones.low);
            if (unboosted < 0)
                unboosted = 0;
        }
        fprintf(out, "%lld %ld %ld %ld %ld %ld\n", static_cast<long long>(now_ms()), mem[0],
                mem[1], x_rss, unboosted, zoned ? zones.boost : -1);
        sleep_ms(250);
    }
}

[[noreturn]] void run_heartbeat(const char *dir)
{
    lock_memory();
    FILE *out = open_out(dir, "heartbeat");
    int64_t last = now_ms();
    for (;;) {
        sleep_ms(100);
        const int64_t t = now_ms();
        fprintf(out, "%lld %lld\n", static_cast<long long>(t), static_cast<long long>(t - last));
        last = t;
    }
}

// The round trip in flight, for the SIGTERM handler: milliseconds since
// boot fit a sig_atomic_t for 24 days, far longer than any arm.
volatile sig_atomic_t rtt_fd = -1;
volatile sig_atomic_t rtt_started = 0;

void write_pending(int)
{
    const int64_t started = rtt_started;
    if (started != 0 && rtt_fd >= 0) {
        const int64_t t = now_ms();
        char line[64];
        const int n = snprintf(line, sizeof line, "%lld %lld\n", static_cast<long long>(t),
                               static_cast<long long>(t - started));
        if (write(rtt_fd, line, static_cast<size_t>(n)) < 0) {
            // Nothing more to do in a handler about to exit.
        }
    }
    _exit(0);
}

[[noreturn]] void run_x_rtt(const char *dir)
{
    void *xlib = dlopen("libX11.so.6", RTLD_NOW);
    if (xlib == nullptr) {
        fprintf(stderr, "device-probe: %s\n", dlerror());
        _exit(1);
    }
    using open_display_fn = Display *(*)(const char *);
    using sync_fn = int (*)(Display *, Bool);
    const auto open_display = reinterpret_cast<open_display_fn>(dlsym(xlib, "XOpenDisplay"));
    const auto sync = reinterpret_cast<sync_fn>(dlsym(xlib, "XSync"));
    if (open_display == nullptr || sync == nullptr) {
        fprintf(stderr, "device-probe: libX11.so.6 lacks XOpenDisplay or XSync\n");
        _exit(1);
    }
    lock_memory();
    FILE *out = open_out(dir, "x-rtt");
    Display *display = open_display(nullptr);
    if (display == nullptr) {
        fprintf(stderr, "device-probe: cannot open the display\n");
        _exit(1);
    }
    rtt_fd = fileno(out);
    signal(SIGTERM, write_pending);
    for (;;) {
        const int64_t started = now_ms();
        rtt_started = static_cast<sig_atomic_t>(started);
        sync(display, False);
        const int64_t t = now_ms();
        rtt_started = 0;
        fprintf(out, "%lld %lld\n", static_cast<long long>(t), static_cast<long long>(t - started));
        sleep_ms(200);
    }
}

pid_t children[2];

void end_all(int)
{
    for (pid_t child : children)
        if (child > 0)
            kill(child, SIGTERM);
    _exit(0);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        fprintf(stderr, "usage: device-probe DIR X_PID\n");
        return 2;
    }
    signal(SIGTERM, end_all);
    for (int i = 0; i < 2; ++i) {
        const pid_t pid = fork();
        if (pid < 0) {
            perror("fork");
            end_all(0);
        }
        if (pid == 0) {
            signal(SIGTERM, SIG_DFL);
            if (i == 0)
                run_heartbeat(argv[1]);
            run_x_rtt(argv[1]);
        }
        children[i] = pid;
    }
    run_memory(argv[1], argv[2]);
}
