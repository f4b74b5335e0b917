#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <sched.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "files.h"

namespace support {

namespace {

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// In the child: private mount namespace with the given files laid over.
bool lay_mounts(const std::vector<Mount> &mounts)
{
    if (mounts.empty())
        return true;
    if (unshare(CLONE_NEWNS) != 0)
        return false;
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    for (const Mount &m : mounts)
        if (mount(m.source.c_str(), m.target.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return false;
    return true;
}

// Reads what is there within timeout seconds; false at end of output.
bool read_some(Watchdog &w, double timeout)
{
    if (w.out < 0)
        return false;
    pollfd pfd{w.out, POLLIN, 0};
    const int ms = timeout > 0 ? static_cast<int>(timeout * 1000) : 0;
    if (poll(&pfd, 1, ms) <= 0)
        return true;
    char chunk[4096];
    const ssize_t n = read(w.out, chunk, sizeof chunk);
    if (n <= 0) {
        close(w.out);
        w.out = -1;
        return false;
    }
    w.log.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::vector<char *> argv_of(std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return argv;
}

// Reads one line from fd into line, waiting at most seconds in all.
bool read_line(int fd, std::string &line, double seconds)
{
    const double deadline = now() + seconds;
    char c = 0;
    while (c != '\n') {
        pollfd pfd{fd, POLLIN, 0};
        const double left = deadline - now();
        if (left <= 0 || poll(&pfd, 1, static_cast<int>(left * 1000) + 1) <= 0 ||
            read(fd, &c, 1) != 1)
            return false;
        line += c;
    }
    return true;
}

bool try_reap(Watchdog &w)
{
    if (w.ended)
        return true;
    if (waitpid(w.pid, &w.status, WNOHANG) == w.pid)
        w.ended = true;
    return w.ended;
}

// A seccomp filter that answers each refused call with its errno and lets
// every other through. Built before the fork, installed in the child.
std::vector<sock_filter> refusal_filter(const std::vector<Refusal> &refused)
{
    std::vector<sock_filter> filter;
    filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    for (const Refusal &r : refused) {
        filter.push_back(
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(r.number), 0, 1));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K,
                                  SECCOMP_RET_ERRNO | (static_cast<__u32>(r.error) & 0xffff)));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    return filter;
}

bool install_filter(std::vector<sock_filter> &filter)
{
    if (filter.size() <= 2)
        return true;
    sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

} // namespace

bool refuse_calls(const std::vector<Refusal> &refused)
{
    std::vector<sock_filter> filter = refusal_filter(refused);
    return install_filter(filter);
}

Watchdog::~Watchdog()
{
    if (pid > 0 && !ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    if (out >= 0)
        close(out);
    if (!err_path.empty())
        unlink(err_path.c_str());
}

std::string Watchdog::err() const
{
    return read_file(err_path);
}

const char *watchdog_binary()
{
    return WATCHDOG_BINARY;
}

const char *input_grabber_binary()
{
    return INPUT_GRABBER;
}

bool can_mount()
{
    static int known = -1;
    if (known >= 0)
        return known == 1;
    known = 0;
    if (geteuid() != 0)
        return false;
    const pid_t child = fork();
    if (child == 0) {
        const bool ok = lay_mounts({{"/proc/self/stat", "/proc/self/statm"}});
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    known = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
    return known == 1;
}

bool can_refuse()
{
    static int known = -1;
    if (known >= 0)
        return known == 1;
    std::vector<sock_filter> filter = refusal_filter({{SYS_getppid, EDOM}});
    const pid_t child = fork();
    if (child == 0) {
        const bool refused =
            install_filter(filter) && syscall(SYS_getppid) == -1 && errno == EDOM;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    known = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
    return known == 1;
}

std::vector<std::string> target_command(const std::string &binary)
{
    std::vector<std::string> args;
#ifdef WATCHDOG_EMULATOR
    // A binary for another target runs through the emulator.
    std::istringstream emulator(WATCHDOG_EMULATOR);
    for (std::string word; emulator >> word;)
        args.push_back(word);
#endif
    args.push_back(binary);
    return args;
}

void start(Watchdog &w, const Options &options)
{
    std::vector<std::string> args =
        target_command(options.binary.empty() ? watchdog_binary() : options.binary);
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<char *> argv = argv_of(args);

    std::vector<sock_filter> filter = refusal_filter(options.refused);

    char err_name[] = "/tmp/watchdog-err-XXXXXX";
    const int err_fd = mkstemp(err_name);
    w.err_path = err_name;
    int pipe_fds[2];
    if (err_fd < 0 || pipe(pipe_fds) != 0) {
        ADD_FAILURE() << "cannot create the output channels";
        return;
    }
    fchmod(err_fd, 0666);

    w.pid = fork();
    if (w.pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        close(err_fd);
        if (!options.display)
            unsetenv("DISPLAY");
        if (!options.display_name.empty())
            setenv("DISPLAY", options.display_name.c_str(), 1);
        for (const auto &[name, value] : options.env)
            setenv(name.c_str(), value.c_str(), 1);
        if (!lay_mounts(options.mounts))
            _exit(126);
        if (options.as_nobody) {
            setenv("HOME", "/tmp", 1);
            if (setsid() < 0 || setgroups(0, nullptr) != 0 || setgid(65534) != 0 ||
                setuid(65534) != 0)
                _exit(126);
        }
        if (!install_filter(filter))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    close(err_fd);
    w.out = pipe_fds[0];
}

bool wait_for(Watchdog &w, const std::string &text, double seconds)
{
    const double deadline = now() + seconds;
    while (w.log.find(text) == std::string::npos) {
        const double left = deadline - now();
        if (left <= 0 || !read_some(w, left))
            return w.log.find(text) != std::string::npos;
    }
    return true;
}

void collect_for(Watchdog &w, double seconds)
{
    const double deadline = now() + seconds;
    for (double left = seconds; left > 0; left = deadline - now()) {
        if (!read_some(w, left)) {
            // The output ended early; still stay the whole window.
            usleep(static_cast<useconds_t>(left * 1e6));
            break;
        }
    }
}

bool wait_end(Watchdog &w, double seconds)
{
    const double deadline = now() + seconds;
    while (!try_reap(w)) {
        const double left = deadline - now();
        if (left <= 0)
            return false;
        if (!read_some(w, left < 0.05 ? left : 0.05) && !try_reap(w))
            usleep(10000);
    }
    while (read_some(w, 0) && w.out >= 0) {
    }
    return true;
}

int exit_code(const Watchdog &w)
{
    if (!w.ended || !WIFEXITED(w.status))
        return -1;
    return WEXITSTATUS(w.status);
}

int run(Watchdog &w, const Options &options, double seconds)
{
    // One that does not end in time is killed with w.
    start(w, options);
    wait_end(w, seconds);
    return exit_code(w);
}

Standin::Standin() : Standin(std::vector<std::string>{}) {}

Standin::Standin(const std::vector<std::string> &command_given)
{
    const std::vector<std::string> command =
        command_given.empty()
            ? std::vector<std::string>{"/bin/sh", "-c", "echo ready; read _"}
            : command_given;
    // Close-on-exec in this process: no other child may hold them open.
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot create the stand-in's pipes";
        return;
    }
    std::vector<std::string> args = command;
    std::vector<char *> argv = argv_of(args);
    pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input = in[1];
    std::string line;
    // Then blocked on its input: asleep, as a browser at rest.
    ready = read_line(out[0], line, 30) && line == "ready\n" &&
            await_state(pid, 'S', 30) == 'S';
    close(out[0]);
    if (!ready)
        ADD_FAILURE() << "stand-in " << command[0] << " did not say it was ready";
}

Standin::~Standin()
{
    end();
    if (input >= 0)
        close(input);
}

int Standin::reap(double seconds)
{
    const double deadline = now() + seconds;
    while (!reaped) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            reaped = true;
        else if (r < 0 || now() > deadline)
            return -1;
        else
            usleep(5000);
    }
    return status;
}

void Standin::end()
{
    // Never signal a pid that was reaped: it may belong to another process.
    if (pid <= 0 || reaped)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    reaped = true;
}

char process_state(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos || close_paren + 2 >= stat.size())
        return '?';
    return stat[close_paren + 2];
}

char await_state(pid_t pid, char state, double seconds)
{
    const double deadline = now() + seconds;
    char seen = process_state(pid);
    while (seen != state && now() < deadline) {
        usleep(2000);
        seen = process_state(pid);
    }
    return seen;
}

unsigned long page_kib()
{
    return static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) / 1024;
}

} // namespace support
