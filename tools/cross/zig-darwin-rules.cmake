# zig's Mach-O linker crashes on a bundle (CMake's kind of module on Apple) with an
# exported-symbols list: the check links a dylib, which CPython's dlopen loads alike.
set(CMAKE_SHARED_MODULE_CREATE_CXX_FLAGS "-shared")
