// PyInit__accel: one-time module creation, the subinterpreter guard and function registration.
#include <atomic>
#include <cstdint>

#include "frame/convert.hpp"
#include "frame/inject.hpp"
#include "frame/panic.hpp"
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
bool add_function(PyObject* module, PyMethodDef* def) {
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) return fail_pending(), false;
  Ref function = Ref::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
  if (!function) return fail_pending(), false;
  Ref name = Ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return fail_pending(), false;
  if (!PyType_IsSubtype(Py_TYPE(name.get()), &PyUnicode_Type)) {
    return type_mismatch(name.get(), "PyString");
  }

  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    Ref error = take_error();
    if (!PyErr_GivenExceptionMatches(error.get(), PyExc_AttributeError)) {
      PyErr_SetRaisedException(error.release());
      return false;
    }
    all = Ref::steal(PyList_New(0));
    if (!all) api_failed();
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return fail_pending(), false;
  }
  if (!PyList_Check(all.get())) return type_mismatch(all.get(), "PyList");
  int appended =
      injected("all_append") ? (PyErr_NoMemory(), -1) : PyList_Append(all.get(), name.get());
  if (appended < 0) {
    Ref error = take_error();
    fault(Text("could not append __name__ to __all__: ") + render_error(error.get()));
  }

  if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return fail_pending(), false;
  return true;
}

PyObject* create_module() {
  std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return fail_pending();
  std::int64_t expected = -1;
  if (!recorded_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "PyO3 modules do not yet support subinterpreters, see "
                    "https://github.com/PyO3/pyo3/issues/576");
    return nullptr;
  }
  if (module_cache != nullptr) return Py_NewRef(module_cache);

  Ref module = Ref::steal(PyModule_Create2(&module_def, kApiVersion));
  if (!module) return fail_pending();
  for (PyMethodDef& def : function_table()) {
    if (!add_function(module.get(), &def)) return nullptr;
  }
  if (module_cache == nullptr) module_cache = Py_NewRef(module.get());
  return Py_NewRef(module_cache);
}

}  // namespace

}  // namespace accel

PyMODINIT_FUNC PyInit__accel() {
  return accel::guarded([] { return accel::create_module(); });
}
