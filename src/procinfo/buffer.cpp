// Program-wide storage shared by all readers and the log.
#include "procinfo/procinfo.h"

char buf[buf_size];

const char *const prefix = "Browser controller: ";
