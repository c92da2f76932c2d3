// Test builds only: whether ACCEL_INJECT (a comma-separated list) names a failure point.
#include <cstdlib>
#include <cstring>

#include "frame/seam.hpp"

namespace accel::seam {

bool injected(const char* point) noexcept {
  const char* list = std::getenv("ACCEL_INJECT");
  if (list == nullptr) return false;
  const std::size_t n = std::strlen(point);
  for (const char* p = list; (p = std::strstr(p, point)) != nullptr; p += n) {
    bool starts = p == list || p[-1] == ',';
    bool ends = p[n] == '\0' || p[n] == ',';
    if (starts && ends) return true;
  }
  return false;
}

}  // namespace accel::seam
