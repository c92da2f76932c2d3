// NumPy reached at run time: the C-API capsule, the PySliceContainer owner type, the array.
#include "frame/numpy_bridge.hpp"

#include <cstdio>
#include <utility>

#include "frame/convert.hpp"
#include "frame/failure.hpp"
#include "frame/ft.hpp"
#include "frame/numpy_api.hpp"
#include "frame/process.hpp"
#include "frame/seam.hpp"

namespace accel {

namespace {

// The owner of an array's buffer: the array keeps it as its base.
struct SliceContainer {
  PyObject_HEAD void (*release)(void* buffer, std::size_t length, std::size_t capacity);
  void* buffer;
  std::size_t length;
  std::size_t capacity;
};

// Frees a buffer of `capacity` complex128 elements.
void release_complex(void* buffer, std::size_t, std::size_t capacity) {
  if (capacity != 0) PyMem_Free(buffer);
}

void container_dealloc(PyObject* self) {
  auto* c = reinterpret_cast<SliceContainer*>(self);
  // An instance that never received a buffer has nothing to release.
  if (c->release != nullptr) c->release(c->buffer, c->length, c->capacity);
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(type);
}

// The class's allocation slot: exactly the header and the four fields, which start empty. The
// generic allocator would add a spare item and clear the block first; this one is called once
// per array.
PyObject* container_alloc(PyTypeObject* type, Py_ssize_t) {
  auto* c = static_cast<SliceContainer*>(PyObject_Malloc(sizeof(SliceContainer)));
  if (c == nullptr) return PyErr_NoMemory();
  c->release = nullptr;
  c->buffer = nullptr;
  c->length = 0;
  c->capacity = 0;
  return PyObject_Init(reinterpret_cast<PyObject*>(c), type);
}

PyObject* container_new(PyTypeObject* type, PyObject*, PyObject*) {
  Ref name = Ref::steal(PyType_GetName(type));
  if (!name) return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

PyType_Slot container_slots[] = {
    {Py_tp_alloc, reinterpret_cast<void*>(container_alloc)},
    {Py_tp_free, reinterpret_cast<void*>(PyObject_Free)},
    {Py_tp_dealloc, reinterpret_cast<void*>(container_dealloc)},
    {Py_tp_new, reinterpret_cast<void*>(container_new)},
    {Py_tp_doc,
     const_cast<char*>("Utility type to safely store an owned buffer (a fixed-size or growable "
                       "sequence of elements) on the Python heap")},
    {0, nullptr},
};

// Immutable: Python code must not be able to replace __new__ (or assign __class__) and so make
// an instance that never received a buffer.
PyType_Spec container_spec = {
    "builtins.PySliceContainer",
    sizeof(SliceContainer),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    container_slots,
};

// Creates the class on first use; out of line, since every later call finds it cached.
[[gnu::noinline, gnu::cold]] PyTypeObject* create_container_type_or_fault() {
  if (seam::injected("container_type")) {
    PyErr_SetString(PyExc_RuntimeError, "injected type creation failure");
  }
  Ref type = Ref::steal(PyErr_Occurred() ? nullptr : PyType_FromSpec(&container_spec));
  if (!type) fault_after_printing("failed to create type object for PySliceContainer");
  auto* candidate = reinterpret_cast<PyTypeObject*>(type.get());
  // Every container takes and drops a reference to its heap type; the class lives for the rest
  // of the process anyway. A candidate that loses the race below stays allocated, at most once
  // per racing thread and process.
  ft::make_immortal(type.get());
  PyTypeObject* won = process.owner_type.publish(candidate);
  if (won == candidate) (void)type.release();
  return won;
}

inline PyTypeObject* container_type_or_fault() {
  PyTypeObject* type = process.owner_type.get();
  if (type != nullptr && !seam::injected("container_type")) [[likely]]
    return type;
  return create_container_type_or_fault();
}

// getattr(obj, name); null with the error set on failure.
Ref attr(PyObject* obj, const char* name) {
  return Ref::steal(PyObject_GetAttrString(obj, name));
}

// The import machinery; test builds can make it fail ("numpy").
Ref import(PyObject* name) {
  if (seam::injected("numpy")) {
    PyErr_SetString(PyExc_ImportError, "injected NumPy failure");
    return Ref();
  }
  return Ref::steal(PyImport_Import(name));
}

Ref import_or_fault(const char* name) {
  Ref text = Ref::steal(PyUnicode_FromString(name));
  if (!text) fault_api_failed();
  return import(text.get());
}

// "numpy._core" from NumPy 2 on, "numpy.core" before; null with the error set on failure.
const char* find_core_module_or_fault() {
  Ref numpy = import_or_fault("numpy");
  if (!numpy) return nullptr;
  Ref version = attr(numpy.get(), "__version__");
  if (!version) return nullptr;
  Ref lib = import_or_fault("numpy.lib");
  if (!lib) return nullptr;
  Ref parser = attr(lib.get(), "NumpyVersion");
  if (!parser) return nullptr;
  Ref parsed = Ref::steal(PyObject_CallOneArg(parser.get(), version.get()));
  if (!parsed) return nullptr;
  Ref major_obj = attr(parsed.get(), "major");
  if (!major_obj) return nullptr;
  long major = PyLong_AsLong(major_obj.get());
  if (major == -1 && PyErr_Occurred()) return nullptr;
  if (major < 0 || major > 255) {
    set_error(PyExc_OverflowError, "out of range integral type conversion attempted");
    return nullptr;
  }
  return major >= 2 ? "numpy._core" : "numpy.core";
}

constexpr char kCapsuleFault[] = "Failed to access NumPy array API capsule";

[[noreturn]] void fault_capsule_refused(const char* why) {
  fault(Text("Failed to access NumPy array API capsule: ") + why);
}

// The checks NumPy's own import makes before trusting a table: a capsule without a name
// holding a pointer, and an ABI version that this module knows in slot 0. A capsule put in
// NumPy's place by other code fails here instead of being read as NumPy's table.
void** checked_table_or_fault(PyObject* capsule) {
  if (!PyType_IsSubtype(Py_TYPE(capsule), &PyCapsule_Type)) {
    type_mismatch_or_fault(capsule, "PyCapsule");
    return render_error_or_fault(kCapsuleFault, take_error_or_fault());
  }
  // NumPy's capsule has no name; a capsule with one belongs to something else.
  const char* name = PyCapsule_GetName(capsule);
  auto* table =
      name == nullptr ? static_cast<void**>(PyCapsule_GetPointer(capsule, nullptr)) : nullptr;
  if (table == nullptr) {
    PyErr_Clear();
    fault_capsule_refused("the capsule is named or holds no pointer, so it is not NumPy's");
  }
  auto abi_version = reinterpret_cast<numpy::AbiVersion>(table[numpy::kAbiVersionSlot]);
  if (abi_version == nullptr) fault_capsule_refused("the table has no ABI version entry");
  unsigned abi = abi_version();
  if (abi != numpy::kAbiNumpy1 && abi != numpy::kAbiNumpy2) {
    char text[96];
    std::snprintf(text, sizeof text, "unknown NumPy C-API ABI version 0x%x", abi);
    fault_capsule_refused(text);
  }
  for (int slot : {numpy::kArrayTypeSlot, numpy::kDescrFromTypeSlot, numpy::kNewFromDescrSlot,
                   numpy::kSetBaseObjectSlot}) {
    if (table[slot] == nullptr) fault_capsule_refused("the table lacks an entry this module calls");
  }
  return table;
}

// Imports NumPy and reads its C-API table on first use; faults when that is impossible (null
// when an interrupt arrived meanwhile). Only a complete success is cached, so a failed attempt
// is made again from the start next time.
[[gnu::noinline, gnu::cold]] void** load_numpy_table_or_fault() {
  const char* core = find_core_module_or_fault();
  if (core == nullptr) return render_error_or_fault(kCapsuleFault, take_error_or_fault());
  Ref multiarray_name = Ref::steal(PyUnicode_FromFormat("%s.multiarray", core));
  if (!multiarray_name) fault_api_failed();
  Ref multiarray = import(multiarray_name.get());
  if (!multiarray) return render_error_or_fault(kCapsuleFault, take_error_or_fault());
  Ref capsule = attr(multiarray.get(), "_ARRAY_API");
  if (!capsule) return render_error_or_fault(kCapsuleFault, take_error_or_fault());
  void** table = checked_table_or_fault(capsule.get());
  if (table == nullptr) return nullptr;
  // Racing first calls all read the same module's capsule: whichever publishes first, the table
  // is the same, and the capsule kept is the winner's.
  if (process.numpy_table.publish(table) == table &&
      process.numpy_capsule.publish(capsule.get()) == capsule.get()) {
    (void)capsule.release();
  }
  return table;
}

inline void** numpy_table_or_fault() {
  void** table = process.numpy_table.get();
  if (table != nullptr && !seam::injected("numpy")) [[likely]]
    return table;
  return load_numpy_table_or_fault();
}

}  // namespace

Ref complex_owner_or_fault(std::size_t entries, double*& buffer) {
  PyTypeObject* type = container_type_or_fault();
  Ref owner =
      Ref::steal(seam::injected("container") ? seam::injected_error() : type->tp_alloc(type, 0));
  if (!owner) {
    render_error_or_fault("Failed to create slice container", take_error_or_fault());
    return Ref();
  }
  const std::size_t bytes = entries * 2 * sizeof(double);
  void* p = seam::injected("alloc") ? nullptr : PyMem_Malloc(bytes);
  if (p == nullptr) [[unlikely]]
    out_of_memory(bytes);
  auto* c = reinterpret_cast<SliceContainer*>(owner.get());
  c->release = release_complex;
  c->buffer = p;
  c->length = entries;
  c->capacity = entries;
  buffer = static_cast<double*>(p);
  return owner;
}

PyObject* complex_matrix_or_fault(Ref owner, double* buffer, Py_ssize_t rows, Py_ssize_t columns) {
  void** table = numpy_table_or_fault();
  if (table == nullptr) return nullptr;
  auto* array_type = static_cast<PyTypeObject*>(table[numpy::kArrayTypeSlot]);
  auto descr_from_type = reinterpret_cast<numpy::DescrFromType>(table[numpy::kDescrFromTypeSlot]);
  auto new_from_descr = reinterpret_cast<numpy::NewFromDescr>(table[numpy::kNewFromDescrSlot]);
  auto set_base = reinterpret_cast<numpy::SetBaseObject>(table[numpy::kSetBaseObjectSlot]);

  PyObject* descr =
      seam::injected("descr") ? seam::injected_error() : descr_from_type(numpy::kComplexDouble);
  if (descr == nullptr) fault_api_failed();
  // Row-major complex128. Without strides NumPy fills in the row-major ones itself, (16 *
  // columns, 16), and sets the contiguity flags with them; given strides, it would derive the
  // same flags again by walking them.
  numpy::npy_intp dims[2] = {rows, columns};
  // The array takes the descriptor over, also when it cannot be made; so does the injected
  // failure.
  if (seam::injected("array")) {
    Ref taken = Ref::steal(std::exchange(descr, nullptr));
    seam::injected_error();
  }
  Ref array =
      Ref::steal(descr == nullptr ? nullptr
                                  : new_from_descr(array_type, descr, 2, dims, nullptr, buffer,
                                                   numpy::kArrayWriteable, nullptr));
  if (!array) fault_api_failed();
  // The array takes the owner over, also when this fails; so does the injected failure.
  if (seam::injected("base")) {
    Ref taken = std::move(owner);
    seam::injected_error();
    fault_api_failed();
  }
  if (set_base(array.get(), owner.release()) < 0) fault_api_failed();
  return array.release();
}

}  // namespace accel
