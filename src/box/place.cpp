// Where the session makes its boxes: its own cgroups, found by their mounts
// and its place in each, and what a box made there offers.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "box/box.h"
#include "procinfo/procinfo.h"

namespace {

// The mount points of the v2 hierarchy and of the v1 memory and freezer
// controllers, and the session's cgroup in each: from mountinfo and cgroup.
struct Mounts {
    char v2[128], memory[128], freezer[128];
    char v2_path[256], memory_path[256], freezer_path[256];
};

// Whether the comma-separated list holds word.
bool lists(const char *list, const char *end, const char *word)
{
    const std::size_t length = std::strlen(word);
    for (const char *p = list; p < end;) {
        const char *comma = static_cast<const char *>(
            std::memchr(p, ',', static_cast<std::size_t>(end - p)));
        const char *item_end = comma != nullptr ? comma : end;
        if (static_cast<std::size_t>(item_end - p) == length && std::strncmp(p, word, length) == 0)
            return true;
        p = item_end + 1;
    }
    return false;
}

void copy(char *to, std::size_t size, const char *from, const char *end)
{
    const auto length = static_cast<std::size_t>(end - from);
    if (length >= size) {
        to[0] = '\0';
        return;
    }
    std::memcpy(to, from, length);
    to[length] = '\0';
}

// A line of mountinfo: "ID PARENT M:N ROOT POINT OPTIONS [TAGS] - TYPE
// SOURCE SUPER_OPTIONS". Only mounts of a whole hierarchy (ROOT "/") are
// taken, the first of each.
void take_mount(char *line, void *context)
{
    auto &m = *static_cast<Mounts *>(context);
    const char *end = line + std::strlen(line);
    const char *field[5];
    const char *p = line;
    for (const char *&f : field) {
        f = p;
        p = skip_spaces(word_end(p, end));
    }
    const char *dash = std::strstr(p, " - ");
    if (dash == nullptr)
        return;
    const char *type = dash + 3;
    const char *type_end = word_end(type, end);
    const char *options = skip_spaces(word_end(skip_spaces(type_end), end));
    const char *point_end = word_end(field[4], end);
    if (word_end(field[3], end) - field[3] != 1 || field[3][0] != '/')
        return;
    const auto is = [&](const char *name) {
        return static_cast<std::size_t>(type_end - type) == std::strlen(name) &&
               std::strncmp(type, name, std::strlen(name)) == 0;
    };
    const char *options_end = word_end(options, end);
    if (is("cgroup2") && m.v2[0] == '\0')
        copy(m.v2, sizeof m.v2, field[4], point_end);
    if (is("cgroup") && m.memory[0] == '\0' && lists(options, options_end, "memory"))
        copy(m.memory, sizeof m.memory, field[4], point_end);
    if (is("cgroup") && m.freezer[0] == '\0' && lists(options, options_end, "freezer"))
        copy(m.freezer, sizeof m.freezer, field[4], point_end);
}

// A line of cgroup: "ID:CONTROLLERS:PATH"; "0::PATH" is the v2 one.
void take_cgroup(char *line, void *context)
{
    auto &m = *static_cast<Mounts *>(context);
    char *first = std::strchr(line, ':');
    char *second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
    if (second == nullptr)
        return;
    const char *path = second + 1;
    const char *end = path + std::strlen(path);
    if (std::strncmp(line, "0::", 3) == 0)
        copy(m.v2_path, sizeof m.v2_path, path, end);
    if (lists(first + 1, second, "memory"))
        copy(m.memory_path, sizeof m.memory_path, path, end);
    if (lists(first + 1, second, "freezer"))
        copy(m.freezer_path, sizeof m.freezer_path, path, end);
}

// The directory of a cgroup path under its mount point, into dir; false
// when it does not fit, or holds a ':', which separates a box's names.
bool join(char *dir, std::size_t size, const char *mount, const char *path)
{
    if (mount[0] == '\0' || path[0] != '/' || std::strchr(mount, ':') != nullptr ||
        std::strchr(path, ':') != nullptr)
        return false;
    const int n = std::snprintf(dir, size, "%s%s", mount, std::strcmp(path, "/") == 0 ? "" : path);
    return n > 0 && static_cast<std::size_t>(n) < size;
}

bool has(const char *dir, const char *name)
{
    char path[512];
    std::snprintf(path, sizeof path, "%s/%s", dir, name);
    return access(path, F_OK) == 0;
}

bool put(const char *dir, const char *name, const char *text)
{
    char path[512];
    std::snprintf(path, sizeof path, "%s/%s", dir, name);
    return write_text(AT_FDCWD, path, text);
}

// Whether systemd delegated the cgroup at dir (Delegate=yes): it marks it
// with an attribute, trusted.delegate, or user.delegate for a user's.
bool delegated(const char *dir)
{
    char value[8];
    for (const char *name : {"trusted.delegate", "user.delegate"}) {
        const ssize_t n = getxattr(dir, name, value, sizeof value);
        if (n == 1 && value[0] == '1')
            return true;
    }
    return false;
}

// Moves every process of the v2 cgroup at dir into its leaf "browser-session",
// so that its children may have controllers (a cgroup that holds processes
// may not give them any). False when some process would not move.
bool leave_for_leaf(const char *dir)
{
    char leaf[300];
    std::snprintf(leaf, sizeof leaf, "%s/browser-session", dir);
    if (mkdir(leaf, 0755) != 0 && errno != EEXIST)
        return false;
    const int from = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (from < 0)
        return false;
    // Processes forked meanwhile come into it too: until it is empty.
    bool moved = false;
    for (int round = 0; round < 20 && !moved; ++round) {
        pid_t pids[256];
        const long n = box_pids(from, pids, 256);
        moved = n == 0;
        for (long i = 0; i < n; ++i) {
            char text[16];
            std::snprintf(text, sizeof text, "%d", pids[i]);
            put(leaf, "cgroup.procs", text);
        }
    }
    close(from);
    return moved;
}

// Makes and removes a probe box under dir: what a box there offers. False,
// with errno, when none can be made. One left by a process of the same pid
// that ended is as good.
bool probe(const char *dir, BoxPlace &place, bool v2)
{
    char box[300];
    std::snprintf(box, sizeof box, "%s/browser-probe-%d", dir, getpid());
    if (mkdir(box, 0755) != 0 && errno != EEXIST)
        return false;
    if (v2) {
        place.freeze = has(box, "cgroup.freeze");
        place.kill = has(box, "cgroup.kill");
        place.v2_memory = has(box, "memory.current");
    } else if (has(box, "memory.usage_in_bytes")) {
        place.v1_swap = has(box, "memory.memsw.usage_in_bytes");
        place.v1_thresholds = has(box, "cgroup.event_control");
    }
    rmdir(box);
    return true;
}

void find_v2(const Mounts &m, BoxPlace &place)
{
    char dir[256];
    if (!join(dir, sizeof dir, m.v2, m.v2_path)) {
        std::snprintf(place.reason, sizeof place.reason, "%s",
                      m.memory[0] == '\0' && m.freezer[0] == '\0'
                          ? "no cgroup is mounted"
                          : "no cgroup v2 hierarchy, nor a v1 memory or freezer cgroup of its own");
        return;
    }
    const bool root = std::strcmp(m.v2_path, "/") == 0;
    if (!root && !delegated(dir)) {
        std::snprintf(place.reason, sizeof place.reason, "%s is not delegated to the session",
                      dir);
        return;
    }
    pid_t pid = 0;
    const int handle = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool occupied = handle >= 0 && box_pids(handle, &pid, 1) > 0;
    if (handle >= 0)
        close(handle);
    if (!root && occupied && !leave_for_leaf(dir)) {
        std::snprintf(place.reason, sizeof place.reason,
                      "cannot move the processes of %s into a leaf: %s", dir,
                      std::strerror(errno));
        return;
    }
    put(dir, "cgroup.subtree_control", "+memory");
    if (!probe(dir, place, true)) {
        std::snprintf(place.reason, sizeof place.reason, "cannot make a cgroup in %s: %s", dir,
                      std::strerror(errno));
        return;
    }
    std::snprintf(place.v2, sizeof place.v2, "%s", dir);
}

} // namespace

void box_find_place(int proc, BoxPlace &place)
{
    place = BoxPlace{};
    Mounts m{};
    char buffer[1024];
    read_lines(proc, "self/mountinfo", buffer, sizeof buffer, take_mount, &m);
    read_lines(proc, "self/cgroup", buffer, sizeof buffer, take_cgroup, &m);
    find_v2(m, place);
    char dir[256];
    const bool v2_useful = place.freeze || place.kill || place.v2_memory;
    for (const bool memory : {true, false}) {
        if (memory ? place.v2_memory : place.freeze)
            continue;
        if (!join(dir, sizeof dir, memory ? m.memory : m.freezer,
                  memory ? m.memory_path : m.freezer_path))
            continue;
        if (probe(dir, place, false))
            std::snprintf(memory ? place.v1_memory : place.v1_freezer, sizeof place.v1_memory,
                          "%s", dir);
        else if (!place_has_cgroup(place))
            std::snprintf(place.reason, sizeof place.reason, "cannot make a cgroup in %s: %s",
                          dir, std::strerror(errno));
    }
    // A v2 cgroup that can neither freeze, kill nor count is no part of a
    // box beside v1 controllers that can.
    if (!v2_useful && (place.v1_memory[0] != '\0' || place.v1_freezer[0] != '\0'))
        place.v2[0] = '\0';
}

bool place_has_tripwire(const BoxPlace &place)
{
    return place.v2_memory || (place.v1_memory[0] != '\0' && place.v1_thresholds);
}

bool place_has_cgroup(const BoxPlace &place)
{
    return place.v2[0] != '\0' || place.v1_memory[0] != '\0' || place.v1_freezer[0] != '\0';
}

const char *place_words(const BoxPlace &place)
{
    static char words[512];
    if (!place_has_cgroup(place)) {
        std::snprintf(words, sizeof words, "a process group (no cgroup: %s)", place.reason);
        return words;
    }
    char v2[64] = "";
    if (place.v2[0] != '\0')
        std::snprintf(v2, sizeof v2, "cgroup v2 (%s%s%s)", place.freeze ? "freeze" : "no freeze",
                      place.kill ? ", kill" : "", place.v2_memory ? ", memory" : "");
    const bool memory = place.v1_memory[0] != '\0';
    const bool freezer = place.v1_freezer[0] != '\0';
    std::snprintf(words, sizeof words, "a box of %s%s%s%s%s", v2,
                  v2[0] != '\0' && (memory || freezer) ? " and " : "",
                  memory || freezer ? "v1 " : "", memory ? "memory" : "",
                  memory && freezer ? " and freezer" : freezer ? "freezer" : "");
    return words;
}

void box_make(const BoxPlace &place, pid_t pid, Box &box, char *name, std::size_t size)
{
    box = no_box;
    box.group = pid;
    std::snprintf(name, size, "group");
    if (!place_has_cgroup(place))
        return;
    char text[16];
    std::snprintf(text, sizeof text, "%d", pid);
    std::size_t used = 0;
    bool made = true;
    const struct {
        const char *dir;
        int *part;
    } parts[] = {{place.v2, &box.v2}, {place.v1_memory, &box.v1_memory},
                 {place.v1_freezer, &box.v1_freezer}};
    for (const auto &part : parts) {
        if (part.dir[0] == '\0' || !made)
            continue;
        char dir[300];
        std::snprintf(dir, sizeof dir, "%s/browser-%d", part.dir, pid);
        made = (mkdir(dir, 0755) == 0 || errno == EEXIST) && put(dir, "cgroup.procs", text);
        *part.part = made ? open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        const int n = std::snprintf(name + used, size - used, "%s%s", used > 0 ? ":" : "", dir);
        made = made && *part.part >= 0 && n > 0 && used + static_cast<std::size_t>(n) < size;
        used += made ? static_cast<std::size_t>(n) : 0;
    }
    if (!made) {
        box_remove(place, pid, box);
        box.group = pid;
        std::snprintf(name, size, "group");
        return;
    }
    box_look(box);
}

void box_remove(const BoxPlace &place, pid_t pid, Box &box)
{
    box_close(box);
    for (const char *parent : {place.v2, place.v1_memory, place.v1_freezer}) {
        if (parent[0] == '\0')
            continue;
        char dir[300];
        std::snprintf(dir, sizeof dir, "%s/browser-%d", parent, pid);
        rmdir(dir);
    }
}
