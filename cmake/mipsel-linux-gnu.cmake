# Little-endian MIPS32 with GTK+ 2: pass -DCROSS_SYSROOT=<dir> made by
# scripts/cross-sysroot mipsel.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CROSS_TRIPLE mipsel-linux-gnu)
set(CROSS_QEMU qemu-mipsel)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
# dpkg-shlibdeps finds the libraries in the sysroot, and their packages
# through the sysroot's DEBIAN/symbols (run cpack with DEB_HOST_ARCH=mipsel).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${CROSS_SYSROOT}/usr/lib/${CROSS_TRIPLE} ${CROSS_SYSROOT}/lib/${CROSS_TRIPLE})
