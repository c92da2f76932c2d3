// Ordering of two values, optionally through a key step supplied by the caller.
#pragma once

#include <cstdint>
#include <utility>

namespace accel {

// Orders two numbers by their keys: (a, b) only when ka < kb, so equal and unordered (NaN)
// keys give (b, a). `key(value, out)` returns false when the key step failed; the key of a
// is taken first and a failure skips the key of b.
template <class T, class Key>
bool sort_two_by_key(T a, T b, Key&& key, std::pair<T, T>& out) {
  T ka;
  if (!key(a, ka)) return false;
  T kb;
  if (!key(b, kb)) return false;
  out = ka < kb ? std::pair<T, T>{a, b} : std::pair<T, T>{b, a};
  return true;
}

template <class T>
std::pair<T, T> sort_two(T a, T b) {
  return a < b ? std::pair<T, T>{a, b} : std::pair<T, T>{b, a};
}

}  // namespace accel
