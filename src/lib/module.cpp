// PyInit__accel: one-time module creation, the subinterpreter guard and function registration.
#include <atomic>
#include <cstdint>

#include "frame/convert.hpp"
#include "frame/panic.hpp"
#include "frame/seam.hpp"
#include "lib/table.hpp"

namespace accel {

namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_accel",
    "Python module entry",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The interpreter that first initialised the module; -1 until then.
std::atomic<std::int64_t> recorded_interpreter{-1};

// The created module, kept for the rest of the process.
PyObject* module_cache = nullptr;

constexpr int kApiVersion = 1013;

// Registers one function as a module attribute and appends its name to __all__.
bool add_function_or_fault(PyObject* module, PyMethodDef* def) {
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) return pending_error_or_fault();
  Ref function = Ref::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
  if (!function) return pending_error_or_fault();
  Ref name = Ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return pending_error_or_fault();
  if (!PyType_IsSubtype(Py_TYPE(name.get()), &PyUnicode_Type)) {
    return type_mismatch_or_fault(name.get(), "PyString");
  }

  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    Ref error = take_error_or_fault();
    if (!PyErr_GivenExceptionMatches(error.get(), PyExc_AttributeError)) {
      PyErr_SetRaisedException(error.release());
      return false;
    }
    all = Ref::steal(PyList_New(0));
    if (!all) fault_api_failed();
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return pending_error_or_fault();
  }
  if (!PyList_Check(all.get())) return type_mismatch_or_fault(all.get(), "PyList");
  if (seam::list_append(all.get(), name.get()) < 0) {
    fault(Text("could not append __name__ to __all__: ") +
          render_error(take_error_or_fault().get()));
  }

  if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return pending_error_or_fault();
  return true;
}

// CPython 3.12 runs the initialiser of a single-phase module even in an interpreter that refuses
// such modules, and only then throws the module away, with the interpreter that made it. Such an
// initialisation must not be recorded as the first: it is refused here, as CPython would refuse
// it, before anything is recorded. Later versions refuse before calling the initialiser.
bool refuses_single_phase_modules(PyInterpreterState* interp) {
#if PY_VERSION_HEX < 0x030D0000
  return _PyInterpreterState_HasFeature(interp, Py_RTFLAGS_MULTI_INTERP_EXTENSIONS) != 0;
#else
  (void)interp;
  return false;
#endif
}

PyObject* create_module_or_fault() {
  PyInterpreterState* interp = PyInterpreterState_Get();
  std::int64_t id = PyInterpreterState_GetID(interp);
  if (id == -1) return pending_error_or_fault();
  if (recorded_interpreter.load() == -1 && refuses_single_phase_modules(interp)) {
    return set_error(PyExc_ImportError,
                     "module _accel does not support loading in subinterpreters");
  }
  std::int64_t recorded = -1;
  if (!recorded_interpreter.compare_exchange_strong(recorded, id) && recorded != id) {
    return set_error(PyExc_ImportError,
                     "PyO3 modules do not yet support subinterpreters, see "
                     "https://github.com/PyO3/pyo3/issues/576");
  }
  if (module_cache != nullptr) return Py_NewRef(module_cache);

  Ref module = Ref::steal(PyModule_Create2(&module_def, kApiVersion));
  if (!module) return pending_error_or_fault();
  for (PyMethodDef& def : function_table()) {
    if (!add_function_or_fault(module.get(), &def)) return nullptr;
  }
  if (module_cache == nullptr) module_cache = module.release();
  return Py_NewRef(module_cache);
}

}  // namespace

}  // namespace accel

PyMODINIT_FUNC PyInit__accel() {
  return accel::guarded([] { return accel::create_module_or_fault(); });
}
