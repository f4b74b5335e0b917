// The readers of a watched process's own /proc files, through its /proc/PID
// directory: its program size (statm) and what it holds (VmRSS plus VmSwap
// of status), and whether it is still there.
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"

Reading read_process_pages(int dir)
{
    if (const char *error = read_text(dir, statm_file, buf, sizeof buf))
        return failure(error);
    first_line(buf);
    return cut_number(buf, statm_parse_error);
}

namespace {

Reading read_held(int dir, bool swap_needed)
{
    if (const char *error = read_text(dir, status_file, file_buf, sizeof file_buf))
        return failure(error);
    constexpr const char *keys[] = {"VmRSS", "VmSwap"};
    std::uint64_t kib[2];
    if (!find_fields(file_buf, keys, 2, kib) || kib[0] == field_missing)
        return failure(status_parse_error);
    if (kib[1] == field_missing) {
        if (swap_needed)
            return failure(status_parse_error);
        kib[1] = 0;
    }
    return figure(kib[0] + kib[1]);
}

} // namespace

Reading read_process_resident(int dir)
{
    return read_held(dir, true);
}

Reading read_process_share(int dir)
{
    return read_held(dir, false);
}

const char *check_process(int dir)
{
    return faccessat(dir, "status", F_OK, 0) == 0 ? nullptr : status_open_error;
}
