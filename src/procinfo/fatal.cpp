// The single way the program gives up. Kept alone in this file so that a
// harness can link its own do_error in place of this one.
#include <cstdlib>

#include <glib.h>

#include "procinfo/procinfo.h"

void do_error(const char *message)
{
    g_print("%sfatal error (%s), exiting...\n", prefix, message);
    std::exit(1);
}
