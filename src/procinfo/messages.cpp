// The fixed failure texts. The statm and status texts never carry a
// process id.
#include "procinfo/procinfo.h"

const char *const statm_parse_error = "cannot parse /proc/.../statm";
const char *const statm_read_error = "cannot read /proc/.../statm";
const char *const statm_open_error = "cannot open /proc/.../statm";
const char *const mem_parse_error = "cannot parse /proc/meminfo";
const char *const mem_read_error = "cannot read /proc/meminfo";
const char *const mem_open_error = "cannot open /proc/meminfo";
const char *const swap_parse_error = "cannot parse /proc/swaps";
const char *const swap_read_error = "cannot read /proc/swaps";
const char *const swap_open_error = "cannot open /proc/swaps";
const char *const status_parse_error = "cannot parse /proc/.../status";
const char *const status_read_error = "cannot read /proc/.../status";
const char *const status_open_error = "cannot open /proc/.../status";
const char *const invalid_usage_error = "invalid usage";
const char *const invalid_mem_config = "invalid memory configuration";
