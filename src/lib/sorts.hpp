// Call shapes of the pair orderings: two numbers of one kind, or two objects, and a key.
#pragma once

#include <cstdint>

#include "compare/sort.hpp"
#include "frame/bind.hpp"
#include "frame/calls.hpp"
#include "frame/convert.hpp"

namespace accel {

inline bool has_key(PyObject* key) {
  return key != nullptr && key != Py_None;
}

// How each typed sort reads its numbers and boxes them again.
struct FloatKind {
  using Value = double;
  static bool exact(PyObject* obj) { return exact_float(obj); }
  static double read(PyObject* obj) { return PyFloat_AS_DOUBLE(obj); }
  static bool arg_or_fault(PyObject* obj, const char* name, double& out) {
    return float_arg_or_fault(obj, name, out);
  }
  static bool value_or_fault(PyObject* obj, double& out) { return float_value_or_fault(obj, out); }
  static Ref box_or_fault(double value) { return new_float_or_fault(value); }
};

struct IntKind {
  using Value = std::int32_t;
  static bool exact(PyObject* obj) { return small_exact_int(obj); }
  static std::int32_t read(PyObject* obj) { return small_int_value(obj); }
  static bool arg_or_fault(PyObject* obj, const char* name, std::int32_t& out) {
    return int32_arg_or_fault(obj, name, out);
  }
  static bool value_or_fault(PyObject* obj, std::int32_t& out) {
    return int32_value_or_fault(obj, out);
  }
  static Ref box_or_fault(std::int32_t value) { return new_int_or_fault(value); }
};

// Two numbers of one kind; a new tuple of two new numbers out.
template <class Kind>
struct SortNumbers {
  using T = typename Kind::Value;

  static PyObject* pair_or_fault(std::pair<T, T> sorted) {
    Ref first = Kind::box_or_fault(sorted.first);
    Ref second = Kind::box_or_fault(sorted.second);
    return new_tuple_or_fault(std::move(first), std::move(second)).release();
  }

  // Converts a and b in order and orders them, by key(new number) when a key is given. Out of
  // line: for keys and for arguments that need a conversion call.
  template <const auto& F>
  [[gnu::noinline]] static PyObject* converting(PyObject* a_obj, PyObject* b_obj, PyObject* key) {
    T a, b;
    if (!Kind::arg_or_fault(a_obj, F.params[0], a) || !Kind::arg_or_fault(b_obj, F.params[1], b)) {
      return nullptr;
    }
    if (!has_key(key)) return pair_or_fault(sort_two(a, b));
    auto key_of = [key](T v, T& k) {
      Ref result = call_one_or_fault(key, Kind::box_or_fault(v));
      return result && Kind::value_or_fault(result.get(), k);
    };
    std::pair<T, T> sorted;
    if (!sort_two_by_key(a, b, key_of, sorted)) return nullptr;
    return pair_or_fault(sorted);
  }

  template <const auto& F>
  static PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_bound<F>(args, nargs, kwnames, [](PyObject* a, PyObject* b, PyObject* key) {
      // Without a key, exact numbers are read with no call in between, so they stay in
      // registers.
      if (Kind::exact(a) && Kind::exact(b) && !has_key(key)) [[likely]]
        return pair_or_fault(sort_two(Kind::read(a), Kind::read(b)));
      return converting<F>(a, b, key);
    });
  }
};

// The caller's own two objects, ordered by their own `<`, or by their keys' `<`.
PyObject* sort_objects_or_fault(PyObject* a, PyObject* b, PyObject* key);

struct SortObjects {
  template <const auto& F>
  static PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_bound<F>(args, nargs, kwnames, sort_objects_or_fault);
  }
};

}  // namespace accel
