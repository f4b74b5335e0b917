// The buffers every reader reads into.
#include "procinfo/procinfo.h"

char buf[buf_size];
char file_buf[file_buf_size];
