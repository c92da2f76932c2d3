// Releasing references: at once in the normal flow, deferred while a fault unwinds.
#include "frame/ref.hpp"

#include "frame/lock.hpp"
#include "frame/unwind.hpp"

namespace accel {

void release_owned(PyObject* p) {
  if (finalizing() && !holds_lock()) [[unlikely]]
    return;
  // Only a thread that is unwinding a fault defers; any fault in flight anywhere sends the
  // release past this thread's own bookkeeping first.
  if (faults_in_flight.load(std::memory_order_relaxed) != 0) [[unlikely]] {
    if (defer_if_unwinding(p)) return;
  }
  Py_DECREF(p);
}

}  // namespace accel
