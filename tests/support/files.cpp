#include "files.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace support {

TempDir::TempDir()
{
    char name[] = "/tmp/watchdog-test-XXXXXX";
    if (mkdtemp(name) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    chmod(name, 0755);
    dir = name;
}

TempDir::~TempDir()
{
    const std::string command = "rm -rf '" + dir + "'";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "cannot remove " << dir;
}

std::string TempDir::path(const std::string &name) const
{
    return dir + "/" + name;
}

std::string TempDir::write(const std::string &name, const std::string &content) const
{
    const std::string file_path = path(name);
    FILE *file = std::fopen(file_path.c_str(), "w");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot write " << file_path;
        return file_path;
    }
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    chmod(file_path.c_str(), 0644);
    return file_path;
}

std::string read_file(const std::string &path)
{
    std::string content;
    FILE *file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return content;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, n);
    std::fclose(file);
    return content;
}

unsigned long machine_ram_kib()
{
    unsigned long kib = 0;
    if (std::sscanf(read_file("/proc/meminfo").c_str(), "MemTotal: %lu kB", &kib) != 1)
        ADD_FAILURE() << "no MemTotal in /proc/meminfo";
    return kib;
}

unsigned long machine_swap_kib()
{
    const std::string swaps = read_file("/proc/swaps");
    const std::size_t area = swaps.find('\n');
    unsigned long kib = 0;
    if (area != std::string::npos && area + 1 < swaps.size() &&
        std::sscanf(swaps.c_str() + area + 1, "%*s %*s %lu", &kib) != 1)
        ADD_FAILURE() << "cannot read the first swap area";
    return kib;
}

} // namespace support
