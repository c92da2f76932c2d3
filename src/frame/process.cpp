// The once-created objects, forgotten when their runtime ends.
#include "frame/process.hpp"

namespace accel {

void forget_runtime() noexcept {
  process.module.forget();
  process.panic_class.forget();
  process.numpy_table.forget();
  process.numpy_capsule.forget();
  process.owner_type.forget();
  for (NameSlot& name : process.parameter_names) name.store(nullptr, std::memory_order_relaxed);
  process.interpreter.store(-1);
}

}  // namespace accel
