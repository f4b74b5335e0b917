// The browser's box: every process of one browser, its whole tree, held
// together so that it can be frozen, ended and bounded as one. A cgroup
// (v2, or the v1 memory and freezer controllers, each used from where it
// is), or where none can be had a process group of its own. The session
// makes a box for every browser; its watchdog, told the box, freezes it
// right after the browser's SIGSTOP, ends it after the answer, and keeps a
// tripwire in its memory controller where the count reaches the limit.
//
// A box's directories are handles taken when it is opened; nothing here
// allocates, logs or ends the program.
#ifndef BOX_BOX_H
#define BOX_BOX_H

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// One box, as handles on its parts; -1 for a part it lacks.
struct Box {
    int v2;           // its cgroup v2 directory
    int v1_memory;    // its directory under the v1 memory controller
    int v1_freezer;   // its directory under the v1 freezer controller
    bool v2_freeze;   // the v2 directory has cgroup.freeze (Linux 5.2)
    bool v2_kill;     // and cgroup.kill (Linux 5.14)
    bool v2_memory;   // and the memory controller (memory.current)
    pid_t group;      // its process group: the browser's pid, which leads it
};
inline constexpr Box no_box{-1, -1, -1, false, false, false, 0};

// What the box's parts offer, looked up on the handles it has (v2, and the
// v1 memory and freezer directories).
void box_look(Box &box);

// Whether the box has a part that can hold its tree (a cgroup), or only
// its process group.
bool box_is_cgroup(const Box &box);

// Freezes the box's tree: cgroup.freeze, else the v1 freezer, else SIGSTOP
// to its process group. False when nothing could be written or sent.
bool box_freeze(const Box &box);

// Whether the box was frozen by a cgroup (cgroup.freeze is 1, or the v1
// freezer is not thawed). A frozen task that was sent SIGSTOP as it froze
// may take the stop only once thawed: it is frozen, not stopped, then.
bool box_frozen(const Box &box);

// Thaws what box_freeze froze (a process group is left stopped: it is
// only ever thawed to be ended).
void box_thaw(const Box &box);

// Kills every process of the box: cgroup.kill; else frozen, each pid its
// cgroup lists killed, then thawed (a frozen task on v1 dies only once
// thawed), until it lists none or tries run out; else SIGKILL to its
// process group. Frozen tasks die too.
void box_kill(const Box &box);

// Whether any process is still in the box: its cgroups list one, or its
// process group has one.
bool box_populated(const Box &box);

// The pids a cgroup's cgroup.procs lists, into pids (at most n); their
// number, or -1 when it cannot be read.
long box_pids(int cgroup, pid_t pids[], std::size_t n);

// Closes the box's handles.
void box_close(Box &box);

// Writes text, in one write, to the existing file name under dir (a
// handle, or AT_FDCWD for a path); false when it cannot.
bool write_text(int dir, const char *name, const char *text);

// --- The box named in the environment (name.cpp) ---------------------------

// A box as the session names it for the watchdog (BROWSER_WATCHDOG_BOX):
// "group", the process group the browser leads; or the absolute paths of
// its cgroup directories, ':' between them. Opens it into box, and checks
// that it holds the browser pid: each cgroup lists it, or it leads its
// process group. False, box left empty, when it cannot be opened or does
// not hold it.
bool box_open(const char *name, pid_t pid, Box &box);

// --- The memory controller (memory.cpp) ------------------------------------

// The box's memory controller, its files kept open: read with one pread
// each, so that a check costs one system call more.
struct BoxMemory {
    int usage;         // memory.current, memory.memsw.usage_in_bytes or memory.usage_in_bytes
    int swap_usage;    // v2: memory.swap.current, or -1
    int high;          // v2: memory.high, or -1
    int events;        // v2: memory.events; v1: an eventfd of the threshold; or -1
    int event_control; // v1: cgroup.event_control, or -1
    bool v1;
};
inline constexpr BoxMemory no_memory{-1, -1, -1, -1, -1, false};

// Opens the memory controller's files of the box; false where it has none.
bool memory_open(const Box &box, BoxMemory &memory);

// What the box holds now, KiB, as its tripwire compares it: v2,
// memory.current (its RAM); v1, memory.memsw.usage_in_bytes (RAM and swap;
// memory.usage_in_bytes without swap accounting). False when it cannot be
// read.
bool memory_usage(const BoxMemory &memory, std::uint64_t &kib);

// What the box has swapped, KiB, where it is counted apart (v2's
// memory.swap.current); 0 elsewhere.
bool memory_swap(const BoxMemory &memory, std::uint64_t &kib);

// Sets the tripwire at kib: v2's memory.high; on v1 a usage threshold, a
// new eventfd in events. False when the kernel refused it.
bool memory_set_tripwire(BoxMemory &memory, std::uint64_t kib);

// Re-arms the tripwire's wake-up after it fired: v2 reads memory.events
// from its start, v1 reads the eventfd.
void memory_rearm(const BoxMemory &memory);

// --- Where boxes are made (place.cpp) ---------------------------------------

// Where the session makes its boxes, found once at its start under the
// /proc it reads (its mountinfo and its cgroup): the directories of its
// own cgroups under which a box's parts are made, and what a box made
// there offers. A process group where no cgroup can be had, why in reason.
struct BoxPlace {
    char v2[256];          // the v2 cgroup boxes are made in, or ""
    char v1_memory[256];   // the v1 memory cgroup, or ""
    char v1_freezer[256];  // the v1 freezer cgroup, or "" (only without cgroup.freeze)
    bool freeze;           // v2 cgroup.freeze
    bool kill;             // v2 cgroup.kill
    bool v2_memory;        // v2 memory controller
    bool v1_swap;          // v1 memory counts swap (memsw)
    bool v1_thresholds;    // v1 memory takes usage thresholds (Linux 2.6.34)
    char reason[400];      // why there is no cgroup, or less than all
};

// Finds where boxes can be made, under proc (a /proc directory handle):
// the cgroup mounts of its self/mountinfo, and its own cgroups in
// self/cgroup. A v2 cgroup is used where it is the root of its hierarchy
// or delegated (the trusted.delegate or user.delegate attribute of a
// systemd unit's Delegate=yes); holding processes, it is left for a leaf
// first, so that its children may have the memory controller. v1
// directories are used wherever a box can be made in them.
void box_find_place(int proc, BoxPlace &place);

// Whether boxes are cgroups.
bool place_has_cgroup(const BoxPlace &place);

// Whether a box made there holds a tripwire: a v2 memory controller, or v1
// memory with usage thresholds.
bool place_has_tripwire(const BoxPlace &place);

// What a box is made of, for a line: "a cgroup v2 box (freeze, kill,
// memory)", "a box of v1 memory and freezer", "a process group (no cgroup:
// REASON)"...
const char *place_words(const BoxPlace &place);

// Makes the box of browser pid, which is stopped, at place: its cgroups,
// the pid moved into each, and its name for the watchdog into name (of
// size bytes). Falls back to the process group when a cgroup cannot be
// made. The box is opened into box.
void box_make(const BoxPlace &place, pid_t pid, Box &box, char *name, std::size_t size);

// Removes the box of browser pid at place (its cgroups, once empty), and
// closes box.
void box_remove(const BoxPlace &place, pid_t pid, Box &box);

#endif
