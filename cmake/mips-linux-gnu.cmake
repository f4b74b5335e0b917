# Big-endian MIPS32: Debian has no GTK+ 2 for it, so only the /proc
# readers and their tests are built (-DWATCHDOG_PROCINFO_ONLY=ON).
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CROSS_TRIPLE mips-linux-gnu)
set(CROSS_QEMU qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
