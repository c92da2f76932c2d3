# Linux with musl on aarch64 (Alpine and the musllinux wheels).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ACCEL_ZIG_TARGET aarch64-linux-musl)
include("${CMAKE_CURRENT_LIST_DIR}/zig.cmake")
