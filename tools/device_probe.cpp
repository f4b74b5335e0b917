// The device trial's instrument, run inside the guest for a whole arm:
//
//   device-probe DIR X_PID
//
// Three processes, each writing one file in DIR, line-buffered so that a
// guest that is powered off mid-arm still leaves what was seen:
//   memory     every 250 ms: "MS MEM_AVAILABLE_KIB SWAP_FREE_KIB X_RSS_KIB"
//   heartbeat  every new longest gap of a 100 ms sleep loop: "MS GAP_MS"
//   x-rtt      every new longest X round trip (XSync every 200 ms): "MS RTT_MS"
// MS is CLOCK_BOOTTIME in milliseconds, the clock of /proc/uptime and of the
// kernel's trace with trace_clock=boot. SIGTERM ends all three; a round trip
// still waiting then is written as it stands, since a frozen display never
// answers. It reads only /proc/meminfo and the X server's status.
#include <X11/Xlib.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

// The value of "KEY:" in a /proc file of "Key: value kB" lines, or -1.
long proc_field(const char *path, const char *key)
{
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long value = -1;
    const size_t len = strlen(key);
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, key, len) == 0 && line[len] == ':') {
            value = strtol(line + len + 1, nullptr, 10);
            break;
        }
    }
    fclose(f);
    return value;
}

[[noreturn]] void run_memory(const char *dir, const char *x_pid)
{
    FILE *out = open_out(dir, "memory");
    char status[64];
    snprintf(status, sizeof status, "/proc/%s/status", x_pid);
    for (;;) {
        const long avail = proc_field("/proc/meminfo", "MemAvailable");
        const long swap_free = proc_field("/proc/meminfo", "SwapFree");
        const long x_rss = proc_field(status, "VmRSS");
        fprintf(out, "%lld %ld %ld %ld\n", static_cast<long long>(now_ms()), avail,
                swap_free, x_rss);
        sleep_ms(250);
    }
}

[[noreturn]] void run_heartbeat(const char *dir)
{
    FILE *out = open_out(dir, "heartbeat");
    int64_t longest = 0;
    int64_t last = now_ms();
    for (;;) {
        sleep_ms(100);
        const int64_t t = now_ms();
        if (t - last > longest) {
            longest = t - last;
            fprintf(out, "%lld %lld\n", static_cast<long long>(t), static_cast<long long>(longest));
        }
        last = t;
    }
}

// The round trip in flight, for the SIGTERM handler: milliseconds since
// boot fit a sig_atomic_t for 24 days, far longer than any arm.
volatile sig_atomic_t rtt_fd = -1;
volatile sig_atomic_t rtt_started = 0;
volatile sig_atomic_t rtt_longest = 0;

void write_pending(int)
{
    const int64_t started = rtt_started;
    if (started != 0 && rtt_fd >= 0) {
        const int64_t t = now_ms();
        if (t - started > rtt_longest) {
            char line[64];
            const int n = snprintf(line, sizeof line, "%lld %lld\n",
                                   static_cast<long long>(t), static_cast<long long>(t - started));
            if (write(rtt_fd, line, static_cast<size_t>(n)) < 0) {
                // Nothing more to do in a handler about to exit.
            }
        }
    }
    _exit(0);
}

[[noreturn]] void run_x_rtt(const char *dir)
{
    FILE *out = open_out(dir, "x-rtt");
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        fprintf(stderr, "device-probe: cannot open the display\n");
        _exit(1);
    }
    rtt_fd = fileno(out);
    signal(SIGTERM, write_pending);
    for (;;) {
        const int64_t started = now_ms();
        rtt_started = static_cast<sig_atomic_t>(started);
        XSync(display, False);
        const int64_t t = now_ms();
        const int64_t rtt = t - started;
        rtt_started = 0;
        if (rtt > rtt_longest) {
            rtt_longest = static_cast<sig_atomic_t>(rtt);
            fprintf(out, "%lld %lld\n", static_cast<long long>(t), static_cast<long long>(rtt));
        }
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
