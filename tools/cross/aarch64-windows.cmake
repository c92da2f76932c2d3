# Windows on ARM64 (the MinGW ABI, which links against python3XY.dll as MSVC builds do).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(ACCEL_ZIG_TARGET aarch64-windows-gnu)
include("${CMAKE_CURRENT_LIST_DIR}/zig.cmake")
