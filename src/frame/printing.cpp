// Printing a Python error as CPython's default excepthook does, through the traceback module.
#include "frame/printing.hpp"

#include "frame/process.hpp"
#include "frame/ref.hpp"

namespace accel {

namespace {

Ref attr(PyObject* obj, const char* name) {
  return Ref::steal(PyObject_GetAttrString(obj, name));
}

// The default excepthook's own route: from 3.13 on CPython prints through
// traceback._print_exception_bltin (colour, the traceback limit), which writes to sys.stderr;
// before, its C printer writes the same text as traceback.print_exception and then flushes.
Ref print_with_traceback_module(PyObject* error, PyObject* file) {
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

}  // namespace

bool is_interrupt(PyObject* error) noexcept {
  if (PyErr_GivenExceptionMatches(error, PyExc_Exception)) return false;
  PyObject* panic = process.panic_class.get();
  return panic == nullptr || Py_TYPE(error) != reinterpret_cast<PyTypeObject*>(panic);
}

PyObject* interrupt_behind(PyObject* error) noexcept {
  // Both links of every exception are followed, by borrowed pointers that the exceptions keep
  // alive; a bound guards against the cycles that assignments to them can make.
  PyObject* pending[64];
  int count = 0, visited = 0;
  pending[count++] = error;
  while (count > 0 && visited++ < 256) {
    PyObject* e = pending[--count];
    if (is_interrupt(e)) return e;
    auto* base = reinterpret_cast<PyBaseExceptionObject*>(e);
    for (PyObject* next : {base->context, base->cause}) {
      if (next != nullptr && count < 64) pending[count++] = next;
    }
  }
  return nullptr;
}

bool print_error(PyObject* error) {
  // Held: the printing runs Python code, which may replace sys.stderr meanwhile.
  Ref file = Ref::borrow(PySys_GetObject("stderr"));
  if (!file || file.get() == Py_None) return true;
  if (print_with_traceback_module(error, file.get())) return true;
  PyObject* raised = PyErr_GetRaisedException();
  if (raised != nullptr && is_interrupt(raised)) {
    PyErr_SetRaisedException(raised);
    return false;
  }
  Ref dropped = Ref::steal(raised);
  return true;
}

}  // namespace accel
