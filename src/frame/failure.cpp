// PanicException and the two roads back to Python: pending errors and internal faults.
#include "frame/failure.hpp"

#include <cstring>
#include <exception>
#include <utility>

#include "frame/printing.hpp"
#include "frame/process.hpp"
#include "frame/seam.hpp"
#include "frame/unwind.hpp"

namespace accel {

namespace {

constexpr char kPanicDoc[] =
    "\n"
    "The exception raised when the native code of this module, called from Python, hits an\n"
    "internal fault.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// UTF-8 text of a str; lone surrogates become U+FFFD instead of failing.
bool utf8_lossy(PyObject* str, Text& out) {
  Py_ssize_t size = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(str, &size)) {
    out.assign(data, static_cast<std::size_t>(size));
    return true;
  }
  PyErr_Clear();
  Ref bytes = Ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  Ref clean = bytes ? Ref::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                                      PyBytes_GET_SIZE(bytes.get()), "replace"))
                    : Ref();
  const char* data = clean ? PyUnicode_AsUTF8AndSize(clean.get(), &size) : nullptr;
  if (data == nullptr) {
    PyErr_Clear();
    return false;
  }
  out.assign(data, static_cast<std::size_t>(size));
  return true;
}

// repr() of an object as text; a placeholder when repr raises an Exception. Anything else
// (KeyboardInterrupt, SystemExit) is left pending and false is returned.
bool repr_text(PyObject* obj, Text& out) {
  Ref r = Ref::steal(PyObject_Repr(obj));
  if (r && utf8_lossy(r.get(), out)) return true;
  if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) return false;
  PyErr_Clear();
  out = "<unprintable object>";
  return true;
}

// A PanicException from Python code: its str() becomes the message of the resumed fault, then
// the banner and the exception with its traceback are printed. str() comes first, so that an
// interrupt it raises ends the call as itself before anything is printed; an interrupt raised
// while printing does the same, and so does any exception of a signal handler that runs while the
// banner waits for standard error. Each is returned: it is the call's ordinary failure.
Ref resume_panic_or_fault(Ref exc) {
  static const char banner[] =
      "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
      "Python stack trace below:\n";
  Text message;
  Ref s = Ref::steal(PyObject_Str(exc.get()));
  if (!s || !utf8_lossy(s.get(), message)) {
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) {
      return Ref::steal(PyErr_GetRaisedException());
    }
    PyErr_Clear();
    message = "Unwrapped panic from Python code";
  }
  if (!write_stderr(banner, sizeof banner - 1) || !print_error(exc.get())) {
    return Ref::steal(PyErr_GetRaisedException());
  }
  throw_fault(std::move(message));
}

// The class, created on first need; null with the creation's error set when it cannot be made
// (for example near the recursion limit), so that a later fault tries again.
PyObject* panic_type() {
  if (PyObject* cls = process.panic_class.get()) return cls;
  Ref cls = Ref::steal(seam::injected("panic_class")
                           ? seam::injected_error()
                           : PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                                       PyExc_BaseException, nullptr));
  if (!cls) return nullptr;
  // Another thread may have won meanwhile (creating a class can run Python code, and
  // free-threaded builds run in parallel): the first one published is the class.
  PyObject* won = process.panic_class.publish(cls.get());
  if (won == cls.get()) (void)cls.release();
  return won;
}

// Raises PanicException(message). If the class or the message cannot be created, the error
// of that creation is left set instead: the call still fails, and nothing is cached.
void raise_panic(const Text& message) {
  PyObject* cls = panic_type();
  if (cls == nullptr) return;
  // "raise" ends the raising itself with a fault, which must end the process.
  if (seam::injected("raise")) fault("injected fault while raising");
  Ref text =
      Ref::steal(seam::injected("panic_text")
                     ? seam::injected_error()
                     : PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                            "replace"));
  if (!text) return;
  PyErr_SetObject(cls, text.get());
}

}  // namespace

Failure set_error(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  return {};
}

Ref take_error_or_fault() {
  PyObject* exc = PyErr_GetRaisedException();
  if (exc == nullptr) {
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    exc = PyErr_GetRaisedException();
  }
  // Only an exact PanicException is resumed; the class cannot exist before the first fault.
  PyObject* panic = process.panic_class.get();
  if (panic != nullptr && Py_TYPE(exc) == reinterpret_cast<PyTypeObject*>(panic)) [[unlikely]] {
    return resume_panic_or_fault(Ref::steal(exc));
  }
  return Ref::steal(exc);
}

Failure pending_error_or_fault() {
  PyErr_SetRaisedException(take_error_or_fault().release());
  return {};
}

void fault_after_printing(const char* message, std::source_location loc) {
  Ref error = Ref::steal(PyErr_GetRaisedException());
  if (error && is_interrupt(error.get())) throw_error(error.release());
  if (error && !print_error(error.get())) throw_error(PyErr_GetRaisedException());
  fault(message, loc);
}

void fault_api_failed(std::source_location loc) {
  fault_after_printing("Python API call failed", loc);
}

Failure render_error_or_fault(const char* prefix, Ref error, std::source_location loc) {
  if (!error) return {};
  Ref handled = Ref::steal(PyErr_GetHandledException());
  if (PyObject* interrupt = interrupt_behind(error.get(), handled.get())) {
    PyErr_SetRaisedException(Py_NewRef(interrupt));
    return {};
  }
  Text type, value, traceback = "None";
  Ref tb = Ref::steal(PyException_GetTraceback(error.get()));
  if (!repr_text(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), type) ||
      !repr_text(error.get(), value) || (tb && !repr_text(tb.get(), traceback))) {
    return {};
  }
  fault(prefix + (": type: " + type) + ", value: " + value + ", traceback: " + traceback, loc);
}

void keep_caught(const Fault& caught) noexcept {
  end_unwinding(caught.message.data(), caught.message.size());
}

void keep_caught(const std::exception& error) noexcept {
  const char* what = error.what();
  end_unwinding(what, std::strlen(what));
}

PyObject* raise_caught() {
  Text message = take_caught_message();
  PyObject* error = take_thrown_error();
  // A thread that the interpreter ends meanwhile unwinds through here: only the module's own
  // exceptions are caught.
  try {
    release_deferred();
    if (error != nullptr) {
      PyErr_SetRaisedException(error);
    } else {
      raise_panic(message);
    }
  } catch (const Fault&) {
    abort_at_boundary();
  } catch (const std::exception&) {
    abort_at_boundary();
  }
  return nullptr;
}

}  // namespace accel
