# What the per-target toolchain files share: the Debian cross compiler for
# DSD_TARGET_TRIPLE, its multiarch libraries (GoogleTest from libgtest-dev:ARCH)
# and qemu-user as the emulator that runs what is built.
set(CMAKE_CXX_COMPILER ${DSD_TARGET_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${DSD_TARGET_TRIPLE})

# Target headers and libraries only; programs (gzip, clang-format) are the
# build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${DSD_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
  set(DSD_QEMU qemu-arm)
else()
  set(DSD_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR})
endif()
find_program(DSD_QEMU_PATH ${DSD_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DSD_QEMU_PATH} -L /usr/${DSD_TARGET_TRIPLE})
