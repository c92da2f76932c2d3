// A module function declared once: the binder, the text signature and the method definition all
// read that declaration.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "frame/failure.hpp"
#include "frame/process.hpp"

namespace accel {

// The general binder's limit: a declaration with more parameters does not compile.
inline constexpr std::size_t kMaxParameters = 8;

// Name, parameters (all positional-or-keyword, the first `required` of them required) and how
// the function is called: a call shape over its kernel, which the module's own layer defines.

template <std::size_t P, class Shape>
struct Function {
  static_assert(P <= kMaxParameters, "the binder takes at most kMaxParameters parameters");
  static constexpr std::size_t count = P;
  const char* name;
  const char* params[P];
  std::size_t required;
  Shape shape;
};

// The general binder's view of a declaration.
struct Parameters {
  const char* function;
  const char* const* names;
  NameSlot* interned;
  Py_ssize_t count;
  Py_ssize_t required;
};

template <const auto& F>
constexpr Parameters parameters{F.name, F.params, interned_names<F>, F.count, F.required};

namespace detail {

// "name(a, b, atol=None)\n--\n\n": CPython reads __text_signature__ from it, and since nothing
// follows the block, __doc__ is None.
template <const auto& F, class Out>
constexpr std::size_t write_signature(Out&& put) {
  std::size_t n = 0;
  auto text = [&](std::string_view s) {
    for (char ch : s) put(n++, ch);
  };
  text(F.name);
  text("(");
  for (std::size_t i = 0; i < F.count; ++i) {
    if (i > 0) text(", ");
    text(F.params[i]);
    if (i >= F.required) text("=None");
  }
  text(")\n--\n\n");
  put(n++, '\0');
  return n;
}

}  // namespace detail

template <const auto& F>
constexpr auto text_signature = [] {
  std::array<char, detail::write_signature<F>([](std::size_t, char) {})> out{};
  detail::write_signature<F>([&](std::size_t i, char ch) { out[i] = ch; });
  return out;
}();

// The entry routine: hands the function's call shape to the shared entry path.
template <const auto& F>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  using Shape = decltype(F.shape);
  return guarded([&] { return Shape::template call<F>(args, nargs, kwnames); });
}

// The method definition of a declaration. Every function uses the vectorcall convention with
// keywords: CPython's specialised call path for builtins applies to exactly these flags.
template <const auto& F>
inline PyMethodDef method() {
  PyObject* (*routine)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) = entry<F>;
  // PyMethodDef stores every entry as PyCFunction; CPython calls it by its flags.
  return PyMethodDef{F.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(routine)),
                     METH_FASTCALL | METH_KEYWORDS, text_signature<F>.data()};
}

// A module's functions, in registration order: the one list of them. `methods` ends with the
// null entry that CPython's own registration (PyModule_AddFunctions) stops at.
template <const auto&... F>
struct FunctionList {
  static inline PyMethodDef methods[] = {method<F>()..., PyMethodDef{}};
  static constexpr std::size_t count = sizeof...(F);
  // Their interned parameter names die with the runtime that made them.
  static void forget_names() noexcept { (forget_interned_names<F>(), ...); }
};

}  // namespace accel
