/* The cheapest calls a C extension can make, one per call shape of _accel: hand-written
 * METH_FASTCALL | METH_KEYWORDS functions that bind, read exact floats directly and build a
 * result of the same type, doing no other work. Keywords are matched by identity against
 * interned names, in declaration order first, with a general binder behind. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <string.h>

typedef struct {
  const char *name;
  int count, required;
  const char *params[6];
  PyObject *interned[6];
} Shape;

/* The general binder: any keyword order, names compared by identity, then by text. */
static int bind_general(Shape *s, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                        PyObject **slots) {
  if (nargs > s->count) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %d arguments", s->name, s->count);
    return -1;
  }
  for (int i = 0; i < s->count; i++) slots[i] = i < nargs ? args[i] : NULL;
  Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; k++) {
    PyObject *key = PyTuple_GET_ITEM(kwnames, k);
    int found = -1;
    for (int i = 0; i < s->count && found < 0; i++) {
      if (s->interned[i] == key) found = i;
    }
    for (int i = 0; i < s->count && found < 0; i++) {
      if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, s->params[i]) == 0) {
        found = i;
      }
    }
    if (found < 0 || slots[found] != NULL) {
      PyErr_Format(PyExc_TypeError, "%s() got a bad keyword argument", s->name);
      return -1;
    }
    slots[found] = args[nargs + k];
  }
  for (int i = 0; i < s->required; i++) {
    if (slots[i] == NULL) {
      PyErr_Format(PyExc_TypeError, "%s() missing an argument", s->name);
      return -1;
    }
  }
  return 0;
}

/* Positional calls and in-order interned keywords bind inline; COUNT and REQUIRED are
 * constants at every call site, so the compiler unrolls the loops. */
static inline __attribute__((always_inline)) int bind(Shape *s, const int count,
                                                      const int required, PyObject *const *args,
                                                      Py_ssize_t nargs, PyObject *kwnames,
                                                      PyObject **slots) {
  Py_ssize_t total = nargs;
  if (kwnames != NULL) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    total += nkw;
    if (total > count) return bind_general(s, args, nargs, kwnames, slots);
    for (Py_ssize_t k = 0; k < nkw; k++) {
      if (PyTuple_GET_ITEM(kwnames, k) != s->interned[nargs + k]) {
        return bind_general(s, args, nargs, kwnames, slots);
      }
    }
  }
  if (total < required || total > count) return bind_general(s, args, nargs, kwnames, slots);
  for (int i = 0; i < count; i++) slots[i] = i < total ? args[i] : NULL;
  return 0;
}

static inline int read_float(PyObject *o, double *out) {
  if (PyFloat_CheckExact(o)) {
    *out = PyFloat_AS_DOUBLE(o);
    return 0;
  }
  *out = PyFloat_AsDouble(o);
  return (*out == -1.0 && PyErr_Occurred()) ? -1 : 0;
}

static inline __attribute__((always_inline)) int read_floats(PyObject **slots, const int n,
                                                             double *out) {
  for (int i = 0; i < n; i++) {
    if (read_float(slots[i], &out[i]) < 0) return -1;
  }
  return 0;
}

#define FLOOR(fn) \
  static PyObject *fn(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)

static Shape two_opt = {"two_floats_bool", 3, 2, {"a", "b", "atol"}, {0}};
FLOOR(two_floats_bool) {
  PyObject *slots[3];
  double v[3];
  if (bind(&two_opt, 3, 2, args, nargs, kwnames, slots) < 0 || read_floats(slots, 2, v) < 0) return NULL;
  if (slots[2] != NULL && slots[2] != Py_None && read_float(slots[2], &v[2]) < 0) return NULL;
  return Py_NewRef(v[0] < v[1] ? Py_True : Py_False);
}

static Shape three = {"three_floats", 3, 3, {"a", "b", "c"}, {0}};
FLOOR(three_floats_bool) {
  PyObject *slots[3];
  double v[3];
  if (bind(&three, 3, 3, args, nargs, kwnames, slots) < 0 || read_floats(slots, 3, v) < 0) return NULL;
  return Py_NewRef(v[0] < v[1] ? Py_True : Py_False);
}

FLOOR(three_floats_float) {
  PyObject *slots[3];
  double v[3];
  if (bind(&three, 3, 3, args, nargs, kwnames, slots) < 0 || read_floats(slots, 3, v) < 0) return NULL;
  return PyFloat_FromDouble(v[0]);
}

/* A tuple of N new floats. */
static inline __attribute__((always_inline)) PyObject *floats_tuple(const double *v, const int n) {
  PyObject *t = PyTuple_New(n);
  if (t == NULL) return NULL;
  for (int i = 0; i < n; i++) PyTuple_SET_ITEM(t, i, PyFloat_FromDouble(v[i]));
  return t;
}

FLOOR(three_floats_tuple) {
  PyObject *slots[3];
  double v[3];
  if (bind(&three, 3, 3, args, nargs, kwnames, slots) < 0 || read_floats(slots, 3, v) < 0) return NULL;
  return floats_tuple(v, 3);
}

static Shape six = {"six_floats", 6, 6, {"a", "b", "c", "gx", "gy", "gz"}, {0}};
FLOOR(six_floats_float) {
  PyObject *slots[6];
  double v[6];
  if (bind(&six, 6, 6, args, nargs, kwnames, slots) < 0 || read_floats(slots, 6, v) < 0) return NULL;
  return PyFloat_FromDouble(v[0]);
}

static Shape two_key = {"two_key", 3, 2, {"a", "b", "key"}, {0}};
FLOOR(two_floats_tuple) {
  PyObject *slots[3];
  double v[2];
  if (bind(&two_key, 3, 2, args, nargs, kwnames, slots) < 0 || read_floats(slots, 2, v) < 0) return NULL;
  return floats_tuple(v, 2);
}

FLOOR(two_ints_tuple) {
  PyObject *slots[3];
  if (bind(&two_key, 3, 2, args, nargs, kwnames, slots) < 0) return NULL;
  long a = PyLong_AsLong(slots[0]), b = PyLong_AsLong(slots[1]);
  if ((a == -1 || b == -1) && PyErr_Occurred()) return NULL;
  PyObject *t = PyTuple_New(2);
  if (t == NULL) return NULL;
  PyTuple_SET_ITEM(t, 0, PyLong_FromLong(a));
  PyTuple_SET_ITEM(t, 1, PyLong_FromLong(b));
  return t;
}

/* The objects' own less-than is part of the shape: the contract fixes it. */
FLOOR(two_objs_tuple) {
  PyObject *slots[3];
  if (bind(&two_key, 3, 2, args, nargs, kwnames, slots) < 0) return NULL;
  int swap = PyObject_RichCompareBool(slots[1], slots[0], Py_LT);
  if (swap < 0) return NULL;
  return PyTuple_Pack(2, slots[swap], slots[1 - swap]);
}

FLOOR(three_floats_array) {
  PyObject *slots[3];
  double v[3];
  if (bind(&three, 3, 3, args, nargs, kwnames, slots) < 0 || read_floats(slots, 3, v) < 0) return NULL;
  npy_intp dims[2] = {4, 4};
  return PyArray_SimpleNew(2, dims, NPY_CDOUBLE);
}

#define ROW(fn) {#fn, (PyCFunction)(void (*)(void))fn, METH_FASTCALL | METH_KEYWORDS, NULL}
static PyMethodDef methods[] = {
    ROW(two_floats_bool),  ROW(three_floats_bool), ROW(three_floats_float), ROW(three_floats_tuple),
    ROW(six_floats_float), ROW(two_floats_tuple),  ROW(two_ints_tuple),     ROW(two_objs_tuple),
    ROW(three_floats_array), {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "accel_floor", NULL, 0, methods};

PyMODINIT_FUNC PyInit_accel_floor(void) {
  import_array();
  Shape *shapes[] = {&two_opt, &three, &six, &two_key};
  for (size_t s = 0; s < sizeof shapes / sizeof *shapes; s++) {
    for (int i = 0; i < shapes[s]->count; i++) {
      shapes[s]->interned[i] = PyUnicode_InternFromString(shapes[s]->params[i]);
      if (shapes[s]->interned[i] == NULL) return NULL;
    }
  }
  PyObject *m = PyModule_Create(&module);
#ifdef Py_GIL_DISABLED
  /* Like _accel, so that loading the floor does not turn the GIL back on. */
  if (m != NULL && PyUnstable_Module_SetGIL(m, Py_MOD_GIL_NOT_USED) < 0) {
    Py_DECREF(m);
    return NULL;
  }
#endif
  return m;
}
