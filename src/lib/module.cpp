// PyInit__accel: one-time module creation, the subinterpreter guard and function registration.
#include <atomic>
#include <cstdint>

#include "frame/convert.hpp"
#include "frame/failure.hpp"
#include "frame/ft.hpp"
#include "frame/process.hpp"
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

constexpr int kApiVersion = 1013;

// Registers one function as a module attribute and appends its name to __all__.
bool add_function_or_fault(PyObject* module, PyMethodDef* def) {
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) return pending_error_or_fault();
  Ref function = Ref::steal(ft::function_object(module, module_name.get(), def));
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
  if (seam::injected("all_append") ? (seam::injected_error(), -1)
                                   : PyList_Append(all.get(), name.get()) < 0) {
    return render_error_or_fault("could not append __name__ to __all__", take_error_or_fault());
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
  if (process.interpreter.load() == -1 && refuses_single_phase_modules(interp)) {
    return set_error(PyExc_ImportError,
                     "module _accel does not support loading in subinterpreters");
  }
  std::int64_t recorded = -1;
  if (!process.interpreter.compare_exchange_strong(recorded, id) && recorded != id) {
    return set_error(PyExc_ImportError,
                     "PyO3 modules do not yet support subinterpreters, see "
                     "https://github.com/PyO3/pyo3/issues/576");
  }
  // The first initialisation of a runtime arranges for its objects to be forgotten at its end:
  // they belong to that runtime, so an embedding program that starts CPython again gets a fresh
  // module, not the dead one.
  if (recorded == -1 && Py_AtExit(forget_runtime) < 0) {
    process.interpreter.store(-1);
    return set_error(PyExc_ImportError,
                     "_accel cannot register its exit handler: the Py_AtExit table is full");
  }
  if (PyObject* cached = process.module.get()) return Py_NewRef(cached);

  Ref module = Ref::steal(PyModule_Create2(&module_def, kApiVersion));
  if (!module) return pending_error_or_fault();
  if (ft::declare_no_gil(module.get()) < 0) return pending_error_or_fault();
  if (ft::create_functions(module.get(), function_table().data()) < 0) {
    return pending_error_or_fault();
  }
  for (PyMethodDef& def : function_table()) {
    if (!add_function_or_fault(module.get(), &def)) return nullptr;
  }
  PyObject* won = process.module.publish(module.get());
  if (won == module.get()) (void)module.release();
  return Py_NewRef(won);
}

}  // namespace

}  // namespace accel

PyMODINIT_FUNC PyInit__accel() {
  return accel::guarded([] { return accel::create_module_or_fault(); });
}
