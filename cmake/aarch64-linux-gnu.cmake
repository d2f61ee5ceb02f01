# Cross-build for 64-bit ARM Linux with Debian's cross compiler and arm64 multiarch packages;
# built programs (tests, gtest discovery) run under user-mode qemu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Reports the arm64 .pc files under /usr/lib/aarch64-linux-gnu/pkgconfig only.
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config)

# -cpu max has the crypto extensions. The arm64 loader and libraries come from the multiarch
# packages (/lib/ld-linux-aarch64.so.1, /lib/aarch64-linux-gnu), so qemu needs no -L.
set(CMAKE_CROSSCOMPILING_EMULATOR "qemu-aarch64;-cpu;max")

# Search the host for programs only; headers, libraries and packages come from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
