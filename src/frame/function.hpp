// A module function declared once: the binder, the text signature and the method definition all
// read that declaration.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>
#include <utility>

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

// A declaration as the module registers it: with the first of its parameter-name slots in
// ProcessState. Everything that binds or calls takes this, so a function's slots are a constant
// address in its own code.
template <class Declaration>
struct Registered : Declaration {
  std::size_t first_name;
};

template <const auto& F, std::size_t First>
inline constexpr Registered<std::remove_cvref_t<decltype(F)>> registered{F, First};

// The interned-name slots of a registered function, as an array of its count at a constant
// address, which the binder's unrolled loop indexes directly.
template <const auto& F>
inline NameSlot (&interned_names() noexcept)[F.count] {
  return *reinterpret_cast<NameSlot(*)[F.count]>(process.parameter_names + F.first_name);
}

// The general binder's view of a declaration.
struct Parameters {
  const char* function;
  const char* const* names;
  NameSlot* interned;
  Py_ssize_t count;
  Py_ssize_t required;
};

template <const auto& F>
constexpr Parameters parameters{F.name, F.params, process.parameter_names + F.first_name, F.count,
                                F.required};

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

namespace detail {

// Where each declaration's parameter-name slots start: after those of the ones before it.
template <std::size_t... Counts>
constexpr auto first_names() {
  std::array<std::size_t, sizeof...(Counts) + 1> first{};
  std::size_t i = 0;
  ((first[i + 1] = first[i] + Counts, ++i), ...);
  return first;
}

template <const auto&... F>
struct Methods {
  static constexpr auto first = first_names<F.count...>();
  static_assert(first.back() <= kParameterNameSlots,
                "the functions have more parameters than ProcessState has name slots");

  template <std::size_t... I>
  static auto table(std::index_sequence<I...>) {
    return std::array<PyMethodDef, sizeof...(F) + 1>{method<registered<F, first[I]>>()...,
                                                     PyMethodDef{}};
  }
};

}  // namespace detail

// A module's functions, in registration order: the one list of them. `methods` ends with the
// null entry that CPython's own registration (PyModule_AddFunctions) stops at.
template <const auto&... F>
struct FunctionList {
  static inline auto methods =
      detail::Methods<F...>::table(std::make_index_sequence<sizeof...(F)>());
  static constexpr std::size_t count = sizeof...(F);
};

}  // namespace accel
