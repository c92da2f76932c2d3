"""Helpers of tools/cross.sh: the stand-in import library of python3XY.dll, and the checks of a
cross-built module (file format, architecture, exports, imports)."""

import pathlib
import re
import sys

# Every symbol CPython's headers declare with PyAPI_FUNC or PyAPI_DATA is exported by
# python3XY.dll; all of them are marked DATA, since the headers reference each through its
# __imp_ pointer (dllimport) and the module needs no call thunk.
DECLARED = re.compile(r"PyAPI_(?:FUNC|DATA)\s*\((?:[^()]|\([^()]*\))*\)\s*\(?\s*\*?\s*(\w+)")


def write_def(include, dll, out):
    names = set()
    for header in pathlib.Path(include).rglob("*.h"):
        names.update(DECLARED.findall(header.read_text(errors="replace")))
    lines = [f"LIBRARY {dll}", "EXPORTS"] + [f"    {n} DATA" for n in sorted(names)]
    pathlib.Path(out).write_text("\n".join(lines) + "\n")
    return len(names)


# What each target's artifact must be.
FORMATS = {"macos": "MACHO", "windows": "PE", "linux": "ELF"}
ARCHES = {
    ("MACHO", "x86_64"): "X86_64", ("MACHO", "aarch64"): "ARM64",
    ("PE", "x86_64"): "AMD64", ("PE", "aarch64"): "ARM64",
    ("ELF", "x86_64"): "X86_64", ("ELF", "aarch64"): "AARCH64",
}
# What zig's Mach-O linker exports besides the list: its own header symbols, and the replaceable
# operator new and delete of the libc++ it links statically (zig has no macOS libc++ to link
# dynamically). Apple's ld64, linking the system's libc++, exports the list alone.
MACHO_ZIG_EXPORTS = re.compile(r"__mh_dylib_header|___dso_handle|__Z(nw|na|dl|da)[mPv].*")
# The C runtime (and on Windows the C++ runtime zig links statically) may be imported, and the
# Python C API, which comes from the interpreter.
ALLOWED_LIBRARIES = {
    "MACHO": re.compile(r"/usr/lib/libSystem\.B\.dylib$|/usr/lib/libc\+\+\.1\.dylib$"),
    "PE": re.compile(r"(?i)python3\d+\.dll$|api-ms-win-crt-[a-z0-9-]+\.dll$|kernel32\.dll$|"
                     r"msvcrt\.dll$|ucrtbase\.dll$"),
    "ELF": re.compile(r"libc\.musl-(x86_64|aarch64)\.so\.1$|libc\.so$|libstdc\+\+\.so\.6$|"
                      r"libgcc_s\.so\.1$|libc\+\+\.so|libunwind\.so"),
}


def check(target, path):
    import lief

    lief.logging.disable()
    binary = lief.parse(path)
    arch, system = target.split("-")[:2]
    fmt = binary.format.__name__ if hasattr(binary.format, "__name__") else str(binary.format)
    fmt = fmt.split(".")[-1]
    problems = []
    if fmt != FORMATS[system]:
        problems.append(f"format {fmt}, not {FORMATS[system]}")
        return problems
    if fmt == "MACHO":
        machine = str(binary.header.cpu_type).split(".")[-1]
        exports = {e.symbol.name for e in binary.dyld_info.exports} if binary.has_dyld_info else {
            e.symbol.name for e in binary.dyld_exports_trie.exports}
        exports = {e for e in exports if not MACHO_ZIG_EXPORTS.fullmatch(e)}
        wanted = {"_PyInit__accel"}
        # The first load command naming a dylib is the module's own identity.
        libraries = [lib.name for lib in binary.libraries if lib.name != binary.libraries[0].name]
    elif fmt == "PE":
        machine = str(binary.header.machine).split(".")[-1]
        exports = {e.name for e in binary.get_export().entries} if binary.has_exports else set()
        wanted = {"PyInit__accel"}
        libraries = [imp.name for imp in binary.imports]
    else:
        machine = str(binary.header.machine_type).split(".")[-1]
        exports = {s.name for s in binary.exported_symbols}
        wanted = {"PyInit__accel"}
        libraries = list(binary.libraries)
    if machine != ARCHES[(fmt, arch)]:
        problems.append(f"architecture {machine}, not {ARCHES[(fmt, arch)]}")
    if exports != wanted:
        problems.append(f"exports {sorted(exports)}, not {sorted(wanted)}")
    for lib in libraries:
        if not ALLOWED_LIBRARIES[fmt].search(lib):
            problems.append(f"imports from {lib}")
    if fmt == "ELF" and any("python" in lib for lib in libraries):
        problems.append("links libpython")
    return problems


def main(argv):
    if argv[0] == "def":
        print(write_def(argv[1], argv[2], argv[3]))
        return 0
    if argv[0] == "check":
        problems = check(argv[1], argv[2])
        for p in problems:
            print(f"{argv[1]}: {p}", file=sys.stderr)
        return 1 if problems else 0
    print("usage: cross_check.py def INCLUDE DLL OUT | check TARGET FILE", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
