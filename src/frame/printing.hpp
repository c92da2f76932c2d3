// Python errors printed as a library prints them, not as the interpreter's top level does.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace accel {

// True for an exception that must end the call as itself wherever it is raised: anything that
// is not an Exception (KeyboardInterrupt, SystemExit, GeneratorExit, a class derived straight
// from BaseException), except the module's own PanicException, which is resumed as a fault.
bool is_interrupt(PyObject* error) noexcept;

// `error` itself when it is an interrupt, else the first interrupt among the exceptions it was
// raised from or while handling (__cause__, __context__): NumPy turns one that lands inside its
// C extension's import into an ImportError. `handled`, the exception that was being handled when
// the call began (or null), and every exception chained behind it never count: CPython chains
// the caller's own exception as the context of whatever the call raises, and the caller has
// dealt with it. Borrowed; null when there is none.
PyObject* interrupt_behind(PyObject* error, PyObject* handled) noexcept;

// Prints `error` and its traceback to sys.stderr with the text of the default excepthook, and
// nothing more: no sys.excepthook, no exit on SystemExit, no sys.last_* (the interpreter's
// top-level printers do all three). When the traceback module cannot print it (shadowed by a
// module of the caller's, refused by a sandbox, or short of recursion depth), CPython's C printer
// does, as the default hook falls back to it. A missing sys.stderr, or one whose write fails,
// skips the printing quietly. Returns false when an interrupt was raised meanwhile, left pending.
bool print_error(PyObject* error);

}  // namespace accel
