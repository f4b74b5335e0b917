// Memory information from /proc: the shared line buffer, the text
// primitives that take /proc lines apart, the single fatal path with its
// message catalogue, and the readers of the RAM and swap totals.
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

#endif
