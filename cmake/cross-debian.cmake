# Shared by the cross toolchain files: Debian's cross compiler for
# CROSS_TRIPLE, an optional private sysroot of target packages
# (scripts/cross-sysroot), and qemu-user to run what is built.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLE}-g++)

if(CROSS_SYSROOT)
  set(CMAKE_SYSROOT ${CROSS_SYSROOT})
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${CROSS_SYSROOT})
  set(ENV{PKG_CONFIG_LIBDIR}
    "${CROSS_SYSROOT}/usr/lib/${CROSS_TRIPLE}/pkgconfig:${CROSS_SYSROOT}/usr/share/pkgconfig")
  set(CMAKE_FIND_ROOT_PATH ${CROSS_SYSROOT})
  set(CROSS_RUNTIME ${CROSS_SYSROOT})
  # Libraries that libraries need, found at link time inside the sysroot.
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
    " -Wl,-rpath-link,${CROSS_SYSROOT}/usr/lib/${CROSS_TRIPLE}"
    " -Wl,-rpath-link,${CROSS_SYSROOT}/lib/${CROSS_TRIPLE}")
else()
  # The cross compiler's own C library is all there is.
  set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLE})
  set(CROSS_RUNTIME /usr/${CROSS_TRIPLE})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_QEMU} -L ${CROSS_RUNTIME})
