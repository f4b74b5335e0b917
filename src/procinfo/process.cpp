// The readers of a watched process's own /proc files, through its /proc/PID
// directory: its program size (statm), what it holds (VmRSS plus VmSwap of
// status), its state and start (stat), and whether it is still there.
#include <cstring>
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

const char *read_process_stat(int dir, ProcessStat &stat)
{
    if (const char *error = read_text(dir, stat_file, buf, sizeof buf))
        return error;
    // After the name, ") " then the state; the start is the twentieth field
    // after it.
    const char *field = std::strrchr(buf, ')');
    if (field == nullptr || field[1] != ' ')
        return stat_parse_error;
    field += 2;
    const char *end = field + std::strlen(field);
    const char state = *field;
    for (int i = 1; i < 20 && field < end; ++i)
        field = skip_spaces(word_end(field, end));
    std::uint64_t since = 0;
    if (!parse_decimal(field, word_end(field, end), UINT64_MAX, since))
        return stat_parse_error;
    stat = {state, since};
    return nullptr;
}
