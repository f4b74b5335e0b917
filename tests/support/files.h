// Temporary files with chosen contents.
#ifndef TESTS_SUPPORT_FILES_H
#define TESTS_SUPPORT_FILES_H

#include <string>

namespace support {

// A fresh directory (mode 0755), removed with its files at destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // Writes content to name inside the directory, in place (the inode
    // stays, so a bind mount of it sees the new content); returns the path.
    std::string write(const std::string &name, const std::string &content) const;
    std::string path(const std::string &name) const;

    std::string dir;
};

// Whole content of a file, or "" when it cannot be read.
std::string read_file(const std::string &path);

// A FIFO in place of a file (whatever stood at path), so that the test sees
// every read: each time the reader opens it, serve() hands it one content.
struct Fifo {
    explicit Fifo(const std::string &path);
    ~Fifo();
    Fifo(const Fifo &) = delete;
    Fifo &operator=(const Fifo &) = delete;

    // Waits at most seconds for a reader to open the FIFO, writes content,
    // and waits for the reader to close it again; returns when the reader
    // was served (monotonic s), or -1.
    double serve(const std::string &content, double seconds);

    std::string path;
    int closes = -1;  // inotify: the reader's closes
};

// This machine's RAM (MemTotal) and first swap area in KiB, read with
// sscanf rather than with the code under test.
unsigned long machine_ram_kib();
unsigned long machine_swap_kib();

} // namespace support

#endif
