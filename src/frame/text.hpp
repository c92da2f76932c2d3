// Message text for internal faults: a string whose allocation failure ends the process with its
// size.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>

namespace accel {

// Writes "memory allocation of N bytes failed" to standard error and aborts.
[[noreturn]] void out_of_memory(std::size_t bytes) noexcept;

// Allocator that never throws: the module treats a failed native allocation as fatal.
template <class T>
struct AbortingAllocator {
  using value_type = T;
  AbortingAllocator() noexcept = default;
  template <class U>
  AbortingAllocator(const AbortingAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    void* p = std::malloc(n * sizeof(T));
    if (p == nullptr) out_of_memory(n * sizeof(T));
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) noexcept { std::free(p); }
  template <class U>
  bool operator==(const AbortingAllocator<U>&) const noexcept {
    return true;
  }
};

using Text = std::basic_string<char, std::char_traits<char>, AbortingAllocator<char>>;

}  // namespace accel
