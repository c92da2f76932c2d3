// Printing a Python error as CPython's default excepthook does, through the traceback module.
#include "frame/printing.hpp"

#include "frame/process.hpp"
#include "frame/ref.hpp"
#include "frame/seam.hpp"

namespace accel {

namespace {

Ref attr(PyObject* obj, const char* name) {
  return Ref::steal(PyObject_GetAttrString(obj, name));
}

// The default excepthook's own route: from 3.13 on CPython prints through
// traceback._print_exception_bltin (colour, the traceback limit), which writes to sys.stderr;
// before, its C printer writes the same text as traceback.print_exception and then flushes.
Ref print_with_traceback_module(PyObject* error, PyObject* file) {
  // "print_interrupt": a signal handler raises KeyboardInterrupt as the printing begins.
  if (seam::injected("print_interrupt")) {
    PyErr_SetNone(PyExc_KeyboardInterrupt);
    return Ref();
  }
  Ref traceback = Ref::steal(PyImport_ImportModule("traceback"));
  if (!traceback) return Ref();
  if (Ref builtin = attr(traceback.get(), "_print_exception_bltin")) {
    return Ref::steal(PyObject_CallOneArg(builtin.get(), error));
  }
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Ref();
  PyErr_Clear();
  Ref print = attr(traceback.get(), "print_exception");
  Ref keyword = Ref::steal(Py_BuildValue("(s)", "file"));
  if (!print || !keyword) return Ref();
  PyObject* args[] = {error, file};
  Ref done = Ref::steal(PyObject_Vectorcall(print.get(), args, 1, keyword.get()));
  if (!done) return Ref();
  return Ref::steal(PyObject_CallMethod(file, "flush", nullptr));
}

// The exceptions reachable from `start` through both links of each, by borrowed pointers that
// the exceptions keep alive; the bounds guard against the cycles that assignments to the links
// can make. Each one found is passed to `visit`, which returns true to stop the walk there.
template <class Visit>
PyObject* walk_chain(PyObject* start, Visit&& visit) noexcept {
  PyObject* pending[64];
  int count = 0, visited = 0;
  if (start != nullptr) pending[count++] = start;
  while (count > 0 && visited++ < 256) {
    PyObject* e = pending[--count];
    if (visit(e)) return e;
    auto* base = reinterpret_cast<PyBaseExceptionObject*>(e);
    for (PyObject* next : {base->context, base->cause}) {
      if (next != nullptr && count < 64) pending[count++] = next;
    }
  }
  return nullptr;
}

// After a printing route failed: an interrupt stays pending (false), anything else is dropped.
bool drop_unless_interrupt() {
  Ref raised = Ref::steal(PyErr_GetRaisedException());
  if (raised && is_interrupt(raised.get())) {
    PyErr_SetRaisedException(raised.release());
    return false;
  }
  return true;
}

}  // namespace

bool is_interrupt(PyObject* error) noexcept {
  if (PyErr_GivenExceptionMatches(error, PyExc_Exception)) return false;
  PyObject* panic = process.panic_class.get();
  return panic == nullptr || Py_TYPE(error) != reinterpret_cast<PyTypeObject*>(panic);
}

PyObject* interrupt_behind(PyObject* error, PyObject* handled) noexcept {
  PyObject* earlier[256];
  int known = 0;
  walk_chain(handled, [&](PyObject* e) {
    earlier[known++] = e;
    return false;
  });
  auto is_earlier = [&](PyObject* e) {
    for (int i = 0; i < known; ++i) {
      if (earlier[i] == e) return true;
    }
    return false;
  };
  // The error itself was raised during the call, whatever it is.
  return walk_chain(error,
                    [&](PyObject* e) { return (e == error || !is_earlier(e)) && is_interrupt(e); });
}

bool print_error(PyObject* error) {
  // Held: the printing runs Python code, which may replace sys.stderr meanwhile.
  Ref file = Ref::borrow(PySys_GetObject("stderr"));
  if (!file || file.get() == Py_None) return true;
  if (print_with_traceback_module(error, file.get())) return true;
  if (!drop_unless_interrupt()) return false;
  // A sys.stderr that cannot take even an empty write is what made the route fail: CPython's
  // printer would only report it lost, on standard error itself.
  if (PyFile_WriteString("", file.get()) < 0) return drop_unless_interrupt();
  PyErr_DisplayException(error);
  return true;
}

}  // namespace accel
