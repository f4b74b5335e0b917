// Memory information from /proc: the shared line buffer, the text
// primitives that take /proc lines apart, the single fatal path with its
// message catalogue, the readers of the RAM and swap totals, of what the
// device has left, and of a watched process's own files.
//
// Every function that can fail takes the message to report as its last
// argument and, on failure, ends the program through do_error(); none of
// them returns an error to its caller.
#ifndef PROCINFO_PROCINFO_H
#define PROCINFO_PROCINFO_H

#include <cstdint>
#include <cstdio>

// The one line buffer every reader reads into. Its content is valid only
// until the next reader runs.
constexpr std::size_t buf_size = 1024;
extern char buf[buf_size];

// Log prefix that begins every line the program writes.
extern const char *const prefix;

// Message catalogue: callers pass these pointers, never literal texts.
extern const char *const statm_parse_error;
extern const char *const statm_read_error;
extern const char *const statm_open_error;
extern const char *const mem_parse_error;
extern const char *const mem_read_error;
extern const char *const mem_open_error;
extern const char *const swap_parse_error;
extern const char *const swap_read_error;
extern const char *const swap_open_error;
extern const char *const status_parse_error;
extern const char *const status_read_error;
extern const char *const status_open_error;
extern const char *const invalid_usage_error;
extern const char *const invalid_mem_config;

// Writes "<prefix>fatal error (<message>), exiting...\n" to the log and
// ends the process with status 1. Nothing is unwound or closed.
[[noreturn]] void do_error(const char *message);

// Opens path for reading, or returns nullptr. Every stream the program
// opens gets the same static stdio buffer (no allocation, no fstat), so at
// most one stream may be open at a time: each reader closes its file before
// the next opens one.
FILE *open_stream(const char *path);

// Opens path for reading; on failure, do_error(message).
FILE *open_file(const char *path, const char *message);

// Returns the first ' ' in text; only when text holds no space at all, the
// first '\t'; when it holds neither, do_error(message). Text is unchanged.
char *find_space(char *text, const char *message);

// Returns the first character of text that is neither ' ' nor '\t' (the
// terminator included). Cannot fail.
char *skip_spaces(char *text);

// Converts decimal text exactly as a 32-bit strtoul does: leading white
// space and one sign are accepted, conversion stops at the first non-digit,
// no digits give 0, and a minus sign yields the 32-bit unsigned negation.
// A magnitude above 4294967295 is a failure: do_error(message).
std::uint32_t parse_number(const char *text, const char *message);

// RAM size in KiB: the second field of the first line of /proc/meminfo.
// Every failure is fatal.
std::uint32_t get_ram_size();

// Size in KiB of the first swap area in /proc/swaps; 0 when none is
// listed. A missing file or unreadable header is a warning and counts as
// 0; an unreadable or malformed first area is fatal.
std::uint32_t get_swap_size();

// The same readers on any path, so that chosen contents can be read.
std::uint32_t read_ram_size(const char *path);
std::uint32_t read_swap_size(const char *path);

// The buffer of the files read whole: a process's status or meminfo, whose
// fields lie past the 1024 bytes of the line buffer. A file longer than
// this (a process in thousands of groups) loses its tail and, with it, a
// field: a parse error.
constexpr std::size_t file_buf_size = 4096;
extern char file_buf[file_buf_size];

// Reads the file at path, relative to the directory dir (an absolute path
// or AT_FDCWD ignores it), into buffer of size bytes in one read(2), and
// terminates it. A file that cannot be opened, or gives nothing, is fatal
// with the messages given.
void read_whole(int dir, const char *path, char *buffer, std::size_t size,
                const char *open_error, const char *read_error);

// The KiB figure of the "Key:<blanks>N kB" line at line (its newline
// before the key may lead); the blank after N is cut. No colon, no blank
// after the value or a value beyond 32 bits: do_error(message).
std::uint64_t field_kib(char *line, const char *message);

// The parsers of a file read whole, for the checks: each takes the text
// apart in place and ends the program with message when it cannot.
//   parse_statm_pages      the first field of the first line of statm, in
//                          pages
//   parse_status_resident  VmRSS plus VmSwap of status, in KiB, wherever
//                          they stand (both must)
//   parse_device_left      what the device has left, in KiB, from
//                          meminfo: MemFree, Active(file), Inactive(file)
//                          and KReclaimable (SReclaimable before Linux
//                          4.20), which do not move with the kernel's
//                          watermarks, plus what is free of the first swap
//                          area, of first_swap_kib KiB: SwapFree less the
//                          size of any other areas, never more than the
//                          first area's size
std::uint64_t parse_statm_pages(char *text, const char *message);
std::uint64_t parse_status_resident(char *text, const char *message);
std::uint64_t parse_device_left(char *text, std::uint64_t first_swap_kib, const char *message);

// Total program size in pages of the process whose /proc directory is open
// as dir: the first field of its statm. Every failure is fatal, with the
// statm messages (an ended process cannot be opened).
std::uint32_t get_process_memory(int dir);

// The same on a statm file at path, relative to dir (an absolute path
// ignores dir).
std::uint32_t read_process_memory(int dir, const char *path);

// Resident plus swapped-out memory in KiB (VmRSS plus VmSwap) of the
// process whose /proc directory is open as dir, from its status in one
// read. Every failure is fatal, with the status messages: an ended process
// cannot be opened, and a status without both fields cannot be parsed.
std::uint64_t get_process_resident(int dir);

// The same on a status file at path, relative to dir.
std::uint64_t read_process_resident(int dir, const char *path);

// What the device has left (parse_device_left) from /proc/meminfo, or from
// the file at path, read whole; every failure is fatal with the meminfo
// messages.
std::uint64_t get_device_left(std::uint64_t first_swap_kib);
std::uint64_t read_device_left(const char *path, std::uint64_t first_swap_kib);

// Ends the program with status_open_error unless the process whose /proc
// directory is open as dir still has its status: once a process has ended
// (and been reaped), nothing can be reached through its directory.
void check_process(int dir);

#endif
