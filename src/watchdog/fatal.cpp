// The single way the program gives up, and the readings it turns into it.
// Kept apart from the rest so that a harness can link its own do_error.
#include <cstdlib>

#include "watchdog/watchdog.h"

const char prefix[] = "Browser controller: ";

void do_error(const char *message)
{
    g_print("%sfatal error (%s), exiting...\n", prefix, message);
    std::exit(1);
}

void fatal_if(const char *error)
{
    if (error != nullptr)
        do_error(error);
}

std::uint64_t value_of(const Reading &reading)
{
    fatal_if(reading.error);
    if (reading.warning != nullptr)
        g_print("%s%s\n", prefix, reading.warning);
    return reading.value;
}
