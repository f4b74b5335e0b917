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

// This machine's RAM (MemTotal) and first swap area in KiB, read with
// sscanf rather than with the code under test.
unsigned long machine_ram_kib();
unsigned long machine_swap_kib();

} // namespace support

#endif
