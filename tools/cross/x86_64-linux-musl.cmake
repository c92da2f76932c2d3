# Linux with musl on x86-64 (Alpine and the musllinux wheels).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ACCEL_ZIG_TARGET x86_64-linux-musl)
include("${CMAKE_CURRENT_LIST_DIR}/zig.cmake")
