// The table of counts, found by name.
#include <cstring>

#include "procinfo/procinfo.h"

const Count *find_count(const char *name)
{
    for (const Count &c : counts)
        if (std::strcmp(name, c.name) == 0)
            return &c;
    return nullptr;
}
