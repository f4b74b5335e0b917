// Runs a command as on a kernel that lacks some system calls: each one
// named answers ENOSYS, in the command and in everything it starts.
//
//   refuse_syscalls [NAME...] -- COMMAND [ARG...]
//   refuse_syscalls -n NAME       prints the call's number on this machine
//
// Status 2 for a name it does not know, 125 when no filter could be
// installed or it does not answer ENOSYS; else the command's.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "support/process.h"

namespace {

struct Call {
    const char *name;
    long number;
};

// The calls a device's kernel may lack, and the two a process sleeps in
// (for -n); a name this machine's headers do not number is unknown here.
constexpr Call calls[] = {
#ifdef SYS_pidfd_open
    {"pidfd_open", SYS_pidfd_open},
#endif
#ifdef SYS_pidfd_send_signal
    {"pidfd_send_signal", SYS_pidfd_send_signal},
#endif
#ifdef SYS_faccessat2
    {"faccessat2", SYS_faccessat2},
#endif
#ifdef SYS_close_range
    {"close_range", SYS_close_range},
#endif
#ifdef SYS_clone3
    {"clone3", SYS_clone3},
#endif
#ifdef SYS_openat2
    {"openat2", SYS_openat2},
#endif
#ifdef SYS_statx
    {"statx", SYS_statx},
#endif
#ifdef SYS_getrandom
    {"getrandom", SYS_getrandom},
#endif
#ifdef SYS_memfd_create
    {"memfd_create", SYS_memfd_create},
#endif
#ifdef SYS_copy_file_range
    {"copy_file_range", SYS_copy_file_range},
#endif
#ifdef SYS_preadv2
    {"preadv2", SYS_preadv2},
#endif
#ifdef SYS_pwritev2
    {"pwritev2", SYS_pwritev2},
#endif
#ifdef SYS_rseq
    {"rseq", SYS_rseq},
#endif
#ifdef SYS_pkey_mprotect
    {"pkey_mprotect", SYS_pkey_mprotect},
#endif
#ifdef SYS_pkey_alloc
    {"pkey_alloc", SYS_pkey_alloc},
#endif
#ifdef SYS_pkey_free
    {"pkey_free", SYS_pkey_free},
#endif
#ifdef SYS_io_uring_setup
    {"io_uring_setup", SYS_io_uring_setup},
#endif
#ifdef SYS_io_uring_enter
    {"io_uring_enter", SYS_io_uring_enter},
#endif
#ifdef SYS_io_uring_register
    {"io_uring_register", SYS_io_uring_register},
#endif
#ifdef SYS_epoll_pwait2
    {"epoll_pwait2", SYS_epoll_pwait2},
#endif
#ifdef SYS_poll
    {"poll", SYS_poll},
#endif
#ifdef SYS_ppoll
    {"ppoll", SYS_ppoll},
#endif
};

long number_of(const char *name)
{
    for (const Call &c : calls)
        if (std::strcmp(c.name, name) == 0)
            return c.number;
    return -1;
}

// Refuses the calls, then makes sure each now answers ENOSYS: were the
// filter not there, these arguments are invalid for every one of them.
bool install(const std::vector<long> &refused)
{
    std::vector<support::Refusal> refusals;
    for (const long nr : refused)
        refusals.push_back({nr, ENOSYS});
    if (!support::refuse_calls(refusals))
        return false;
    for (const long nr : refused) {
        errno = 0;
        if (syscall(nr, -1L, -1L, -1L, -1L, -1L, -1L) != -1 || errno != ENOSYS)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "-n") == 0) {
        const long nr = number_of(argv[2]);
        if (nr < 0) {
            std::fprintf(stderr, "refuse_syscalls: no system call %s here\n", argv[2]);
            return 2;
        }
        std::printf("%ld\n", nr);
        return 0;
    }
    std::vector<long> refused;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const long nr = number_of(argv[i]);
        if (nr < 0) {
            std::fprintf(stderr, "refuse_syscalls: no system call %s here\n", argv[i]);
            return 2;
        }
        refused.push_back(nr);
    }
    if (i + 1 >= argc) {
        std::fprintf(stderr, "usage: refuse_syscalls [NAME...] -- COMMAND [ARG...]\n"
                             "       refuse_syscalls -n NAME\n");
        return 2;
    }
    if (!install(refused)) {
        std::fprintf(stderr, "refuse_syscalls: cannot refuse the calls: %s\n",
                     std::strerror(errno));
        return 125;
    }
    execvp(argv[i + 1], argv + i + 1);
    std::fprintf(stderr, "refuse_syscalls: %s: %s\n", argv[i + 1], std::strerror(errno));
    return 127;
}
