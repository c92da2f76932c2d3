# macOS 11 or newer on Intel.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ACCEL_ZIG_TARGET x86_64-macos.11.0)
include("${CMAKE_CURRENT_LIST_DIR}/zig.cmake")
