// Failure points that only test builds can provoke: CPython and NumPy creation calls that do not
// fail in practice. Each call site asks injected("point") once, where the real call is made, and
// in a test build (ACCEL_FAULT_INJECTION) while the ACCEL_INJECT environment variable lists that
// point it fails as the real call would: the same ownership, an error set. Production builds
// compile the question to false, and the failing branch away.
#pragma once

namespace accel::seam {

#ifdef ACCEL_FAULT_INJECTION
bool injected(const char* point) noexcept;
#else
constexpr bool injected(const char* /*point*/) noexcept {
  return false;
}
#endif

}  // namespace accel::seam
