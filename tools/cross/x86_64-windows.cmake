# Windows on x86-64 (the MinGW ABI, which links against python3XY.dll as MSVC builds do).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ACCEL_ZIG_TARGET x86_64-windows-gnu)
include("${CMAKE_CURRENT_LIST_DIR}/zig.cmake")
