// Memory information from /proc: the shared line buffers, the text
// primitives that take /proc lines apart, the message catalogue, and the
// readers of the RAM and swap totals, of what the device has left and of a
// watched process's own files.
//
// Every reader takes a directory handle (the real /proc, a process's
// /proc/PID, or any directory of chosen files) and the name of its file
// within it, and returns what it read or the catalogue message of what
// failed. None of them ends the program or logs anything: what a failure
// means is the caller's to decide. Nothing here allocates.
#ifndef PROCINFO_PROCINFO_H
#define PROCINFO_PROCINFO_H

#include <cstddef>
#include <cstdint>

// The line buffer: a process's statm, the first line of meminfo, and a
// /proc path being formatted. Valid only until the next reader runs.
constexpr std::size_t buf_size = 1024;
extern char buf[buf_size];

// The buffer of the files read whole (a process's status, meminfo, swaps),
// whose fields lie past the line buffer's 1024 bytes. A file longer than
// this loses its tail and, with it, whatever field stood there.
constexpr std::size_t file_buf_size = 4096;
extern char file_buf[file_buf_size];

// Message catalogue: the fixed texts of what failed, each one object, so
// that a failure can be told by its pointer. The statm and status texts
// never carry a process id.
extern const char statm_parse_error[];
extern const char statm_read_error[];
extern const char statm_open_error[];
extern const char mem_parse_error[];
extern const char mem_read_error[];
extern const char mem_open_error[];
extern const char swap_parse_error[];
extern const char swap_read_error[];
extern const char swap_open_error[];
extern const char status_parse_error[];
extern const char status_read_error[];
extern const char status_open_error[];
extern const char stat_parse_error[];
extern const char stat_read_error[];
extern const char stat_open_error[];
extern const char zone_parse_error[];
extern const char zone_read_error[];
extern const char zone_open_error[];
extern const char invalid_usage_error[];
extern const char invalid_mem_config[];

// A /proc file and the messages of its opening and reading; what cannot
// be taken apart, each reader says with the file's parse message.
struct ProcFile {
    const char *name;        // relative to the directory handle given
    const char *open_error;  // cannot be opened (a process that is gone)
    const char *read_error;  // cannot be read, or gives nothing
};
inline constexpr ProcFile meminfo_file{"meminfo", mem_open_error, mem_read_error};
inline constexpr ProcFile swaps_file{"swaps", swap_open_error, swap_read_error};
inline constexpr ProcFile statm_file{"statm", statm_open_error, statm_read_error};
inline constexpr ProcFile status_file{"status", status_open_error, status_read_error};
inline constexpr ProcFile stat_file{"stat", stat_open_error, stat_read_error};
inline constexpr ProcFile zoneinfo_file{"zoneinfo", zone_open_error, zone_read_error};

// What a reader gives: a figure, or the message of what failed. A warning
// is something to say about a figure that stands all the same.
struct Reading {
    std::uint64_t value;  // valid when error is nullptr
    const char *error;
    const char *warning;
};
constexpr Reading figure(std::uint64_t value) { return {value, nullptr, nullptr}; }
constexpr Reading failure(const char *error) { return {0, error, nullptr}; }

// Returns the first ' ' in text; only when text holds no space at all, the
// first '\t'; nullptr when it holds neither. Text is unchanged.
char *find_space(char *text);

// Returns the first character of text that is neither ' ' nor '\t' (the
// terminator included).
char *skip_spaces(char *text);
const char *skip_spaces(const char *text);

// Converts decimal text into value exactly as a 32-bit strtoul does:
// leading white space and one sign are accepted, conversion stops at the
// first non-digit, no digits give 0, and a minus sign yields the 32-bit
// unsigned negation. False, with value untouched, when the magnitude is
// above 4294967295.
bool parse_number(const char *text, std::uint32_t &value);

// The start of the field after the one that begins at text: past its
// blank (find_space) and the blanks after it; nullptr when text is nullptr
// or has no blank.
char *next_field(char *text);

// The number of the field that begins at text, cut at its blank
// (find_space) in place; parse_error when text is nullptr, has no blank,
// or holds a value beyond 32 bits.
Reading cut_number(char *text, const char *parse_error);

// What a reader of a whole file returns when it cannot open it, or read it.
constexpr long cannot_open = -1;
constexpr long cannot_read = -2;

// --- Lines, words and decimal numbers (text.cpp) ---------------------------
// Every reader of the figures a line holds takes the text apart with these:
// one way to step from line to line, to end a word, and to read a number.

// One line of a text, without its newline: [start, end).
struct Line {
    const char *start;
    const char *end;
};

// The line that begins at cursor, in a text that ends at limit, into line;
// cursor moves past its newline. False, once cursor has reached limit. A
// last line without a newline is a line.
bool next_line(const char *&cursor, const char *limit, Line &line);

// The first ' ' or '\t' at or after text, before end; end when none is.
const char *word_end(const char *text, const char *end);

// The decimal number written from text up to end, into value: at least one
// digit and nothing but digits (leading zeros are a number's), at most most.
// False, with value untouched, otherwise: no digit, any other character
// (a sign, a blank, a letter), or a value above most; values up to 2^64 - 1
// are read without overflow.
bool parse_decimal(const char *text, const char *end, std::uint64_t most, std::uint64_t &value);

// Reads the file name under dir a buffer of size bytes at a time and hands
// each of its lines to take, without its newline and terminated in place,
// with context. A line longer than the buffer is passed over. Returns 0, or
// cannot_open or cannot_read (below).
long read_lines(int dir, const char *name, char *buffer, std::size_t size,
                void (*take)(char *line, void *context), void *context);

// Reads the file name, relative to dir, into buffer of size bytes in one
// read(2) and terminates it. Returns the bytes read, or cannot_open or
// cannot_read.
long read_whole(int dir, const char *name, char *buffer, std::size_t size);

// read_whole of file, for a file that must give something: nullptr, or its
// open_error or read_error (nothing read counts as unreadable).
const char *read_text(int dir, const ProcFile &file, char *buffer, std::size_t size);

// Cuts text after its first newline, as a line reader would take it.
void first_line(char *text);

// Takes the "Key:<blanks>N kB" lines of text apart by name: for each of the
// n keys, the figure of the first line that bears it goes to kib[i], or
// field_missing when no line does. False when a line that bears a key has
// no blank after its value within the line, or a value that is not all
// digits or lies beyond 64 bits (parse_decimal). Text is unchanged.
constexpr std::uint64_t field_missing = UINT64_MAX;
bool find_fields(const char *text, const char *const keys[], std::size_t n, std::uint64_t kib[]);

// RAM size in KiB: the second field of the first line of meminfo under
// proc; neither the label nor the unit is compared.
Reading read_ram_size(int proc);

// Size in KiB of the first swap area listed in swaps under proc; 0 when
// none is. A file that cannot be opened, or whose header cannot be read,
// counts as 0 with that message as the warning; a first area that cannot
// be read or taken apart is an error.
Reading read_swap_size(int proc);

// Whether the swap area named at the start of area is compressed swap in
// RAM (a zram device).
bool is_zram(const char *area);

// Size in KiB of every swap area listed in swaps under proc, and of those
// that are zram into zram_kib; 0 when none is. An unreadable file counts as
// 0 with a warning, as read_swap_size; any area that cannot be taken apart
// is an error.
Reading read_swap_areas(int proc, std::uint64_t &zram_kib);

// --- The counts (counts.cpp) ------------------------------------------------
// The ways of counting the X server and the browser against the limit, one
// row each, shared by the watchdog and the session. Each program has its
// own default.
//   size      each process's total program size (the first field of statm);
//   resident  what each holds in RAM and swap (VmRSS plus VmSwap);
//   headroom  what the device has left (read_device_left), whoever holds it.
enum class CountKind { size, resident, headroom };
struct Count {
    const char *name;
    CountKind kind;
    // Its RAM plus swap takes every swap area (read_swap_areas), or the
    // first only (read_swap_size).
    bool every_area;
    // What a reserve on it is taken from, as a message names it.
    const char *base_source;
};
inline constexpr Count counts[] = {
    {"size", CountKind::size, false, "the X server's status"},
    {"resident", CountKind::resident, false, "the X server's status"},
    {"headroom", CountKind::headroom, true, "the meminfo fields"},
};

// The row named name, or nullptr.
const Count *find_count(const char *name);

// The row of kind.
constexpr const Count *count_of(CountKind kind)
{
    // Not std::find_if: it is constexpr from C++20 only.
    for (const Count &c : counts) {
        // cppcheck-suppress useStlAlgorithm
        if (c.kind == kind)
            return &c;
    }
    return nullptr;
}

// The watchdog takes a reserve only if it leaves a limit above this, KiB:
// RAM plus swap must exceed the reserve by more.
constexpr std::uint64_t limit_margin = 10240;

// What filling compressed swap costs in RAM: a page swapped out to zram
// still takes its compressed size and the allocator's slack, a third of it
// for a browser's pages (3.0:1 to 4.2:1 measured at zram's fullest on the
// emulated device with lzo-rle; the worse end is taken).
// So free zram is worth what filling it gives back: the rest.
constexpr std::uint64_t zram_ratio = 3;
constexpr std::uint64_t zram_worth(std::uint64_t zram_kib)
{
    return zram_kib - zram_kib / zram_ratio;
}

// What the device has left, in KiB, from meminfo under proc: MemFree,
// Active(file), Inactive(file) and KReclaimable (SReclaimable before Linux
// 4.20), which do not move with the kernel's watermarks, plus what is free
// of every swap area (SwapFree). Free swap that is zram counts only for the
// RAM filling it gives back (zram_worth): less what the compressed pages
// take. What is free of zram is zram_free_kib where it was read
// (read_zram_free); else free swap is taken as zram first, at most zram_kib
// of it, as zram is used before a disk: never more than the device has,
// but less by up to a third of zram once zram is full and a disk takes the
// rest.
constexpr std::uint64_t zram_free_unknown = UINT64_MAX;
Reading read_device_left(int proc, std::uint64_t zram_kib,
                         std::uint64_t zram_free_kib = zram_free_unknown);

// What is free of the zram swap areas listed in swaps under proc, KiB: each
// one's size less what it uses. 0 without zram or without the file; an
// area that cannot be taken apart is an error.
Reading read_zram_free(int proc);

// What is in use that the kernel cannot give back, in KiB, from meminfo
// under proc: MemTotal less the RAM read_device_left counts as left.
Reading read_in_use(int proc);

// What the kernel keeps of what read_device_left calls left, in KiB, from
// zoneinfo under proc: in each zone its high watermark and its protection
// of the zones below (at most the zone's pages: managed, or present before
// Linux 3.8), and twice its low watermark (which MemAvailable takes off
// the page cache and the reclaimable kernel memory), each less the zone's
// boost, which the kernel takes back once it reclaims. A row a zone lacks
// counts 0; a file without a zone is a parse error.
Reading read_kernel_keep(int proc);

// Total program size in pages of the process whose /proc directory is
// dir: the first field of its statm.
Reading read_process_pages(int dir);

// Resident plus swapped-out memory in KiB (VmRSS plus VmSwap, wherever they
// stand) of the process whose /proc directory is dir, from its status.
Reading read_process_resident(int dir);

// What the process holds, for a log line: as read_process_resident, or
// VmRSS alone where the kernel gives no VmSwap (before Linux 2.6.34).
Reading read_process_share(int dir);

// The state of a process (R, S, T for stopped, Z for a zombie...) and its
// start, in clock ticks after boot, from the stat of the process whose
// /proc directory is dir: nullptr, or the message of what failed. Its name
// may hold anything, ")" and blanks too: the fields follow its last ")".
struct ProcessStat {
    char state;
    std::uint64_t since;
};
const char *read_process_stat(int dir, ProcessStat &stat);

// nullptr while the process whose /proc directory is dir still has its
// status, else status_open_error: once a process has ended (and been
// reaped), nothing can be reached through its directory.
const char *check_process(int dir);

// A memory pressure trigger on pressure/memory under proc (Linux 5.2 and
// later with pressure stall information): a non-blocking descriptor that
// polls POLLPRI once tasks have stalled on memory for a short time within
// a second (two seconds where only that is allowed), POLLERR once the
// trigger is gone. -1 where none can be had, with errno's reason in error:
// no such file, no right to a trigger (before Linux 6.5, without
// CAP_SYS_RESOURCE), or a file that is not the kernel's.
int open_pressure_trigger(int proc, int &error);

#endif
