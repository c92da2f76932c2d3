// The fault of the kernels that require a normalised Weyl coordinate.
#include "lib/shapes.hpp"

namespace accel {

void fault_not_normalised(SourceSite site) {
  fault(Text("Weyl coordinate must be normalized to satisfy 0.5 >= a >= b >= |c|"), site);
}

}  // namespace accel
