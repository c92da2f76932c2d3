# Cross-compiling for aarch64 Linux with Debian's gcc cross toolchain (tools/arm64.sh sets the
# environment): the target interpreter, asked at configure time, runs under qemu from the arm64
# tree, and only the tree's pyconfig.h folder is added to the compiler's view.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64-static -L "$ENV{ACCEL_ARM64_ROOT}")
set(CMAKE_CXX_FLAGS_INIT "-isystem $ENV{ACCEL_ARM64_INCLUDE}")
