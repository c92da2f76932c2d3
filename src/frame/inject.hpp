// Test-only fault injection for failure paths that ordinary inputs cannot reach.
#pragma once

namespace accel {

#ifdef ACCEL_FAULT_INJECTION
// True while the ACCEL_INJECT environment variable lists `point` (comma-separated).
bool injected(const char* point) noexcept;
#else
// Normal builds: every failure point is compiled out.
constexpr bool injected(const char*) noexcept {
  return false;
}
#endif

}  // namespace accel
