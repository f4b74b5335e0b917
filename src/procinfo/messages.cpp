// The fixed failure texts.
#include "procinfo/procinfo.h"

const char statm_parse_error[] = "cannot parse /proc/.../statm";
const char statm_read_error[] = "cannot read /proc/.../statm";
const char statm_open_error[] = "cannot open /proc/.../statm";
const char mem_parse_error[] = "cannot parse /proc/meminfo";
const char mem_read_error[] = "cannot read /proc/meminfo";
const char mem_open_error[] = "cannot open /proc/meminfo";
const char swap_parse_error[] = "cannot parse /proc/swaps";
const char swap_read_error[] = "cannot read /proc/swaps";
const char swap_open_error[] = "cannot open /proc/swaps";
const char status_parse_error[] = "cannot parse /proc/.../status";
const char status_read_error[] = "cannot read /proc/.../status";
const char status_open_error[] = "cannot open /proc/.../status";
const char stat_parse_error[] = "cannot parse /proc/.../stat";
const char stat_read_error[] = "cannot read /proc/.../stat";
const char stat_open_error[] = "cannot open /proc/.../stat";
const char zone_parse_error[] = "cannot parse /proc/zoneinfo";
const char zone_read_error[] = "cannot read /proc/zoneinfo";
const char zone_open_error[] = "cannot open /proc/zoneinfo";
const char invalid_usage_error[] = "invalid usage";
const char invalid_mem_config[] = "invalid memory configuration";
