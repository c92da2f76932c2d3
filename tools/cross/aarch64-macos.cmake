# macOS 11 or newer on Apple silicon.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(ACCEL_ZIG_TARGET aarch64-macos.11.0)
include("${CMAKE_CURRENT_LIST_DIR}/zig.cmake")
