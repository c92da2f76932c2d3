// The per-thread bookkeeping of an unwinding fault: its deferred releases and its message.
#include "frame/unwind.hpp"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace accel {

namespace {

// Trivially destructible, so no thread-exit handler is registered for it: everything it points
// to is freed as soon as the fault is handled.
struct ThreadFault {
  bool unwinding;
  PyObject** deferred;
  std::size_t count;
  std::size_t capacity;
  char* message;
  std::size_t message_length;
  PyObject* error;
};

thread_local ThreadFault this_thread;

void* allocate_or_abort(void* old, std::size_t bytes) {
  void* p = std::realloc(old, bytes);
  if (p == nullptr) out_of_memory(bytes);
  return p;
}

// Frees a taken list also when a finaliser ends the thread halfway through it.
struct TakenList {
  PyObject** items;
  ~TakenList() { std::free(items); }
};

}  // namespace

void begin_unwinding() noexcept {
  ThreadFault& t = this_thread;
  if (t.unwinding) return;
  t.unwinding = true;
  faults_in_flight.fetch_add(1, std::memory_order_relaxed);
}

bool defer_if_unwinding(PyObject* p) {
  ThreadFault& t = this_thread;
  if (!t.unwinding) return false;
  if (t.count == t.capacity) {
    t.capacity = t.capacity == 0 ? 8 : 2 * t.capacity;
    t.deferred =
        static_cast<PyObject**>(allocate_or_abort(t.deferred, t.capacity * sizeof(PyObject*)));
  }
  t.deferred[t.count++] = p;
  return true;
}

void end_unwinding(const char* message, std::size_t length) noexcept {
  ThreadFault& t = this_thread;
  if (t.unwinding) {
    t.unwinding = false;
    faults_in_flight.fetch_sub(1, std::memory_order_relaxed);
  }
  std::free(t.message);
  t.message = static_cast<char*>(allocate_or_abort(nullptr, length + 1));
  std::memcpy(t.message, message, length);
  t.message_length = length;
}

Text take_caught_message() {
  ThreadFault& t = this_thread;
  Text out(t.message, t.message_length);
  std::free(std::exchange(t.message, nullptr));
  t.message_length = 0;
  return out;
}

// Each kept error is taken by the entry path that catches its throw, so none is there before.
void keep_thrown_error(PyObject* error) noexcept {
  this_thread.error = error;
}

PyObject* take_thrown_error() noexcept {
  return std::exchange(this_thread.error, nullptr);
}

void release_deferred() {
  ThreadFault& t = this_thread;
  if (t.count == 0) return;
  TakenList taken{std::exchange(t.deferred, nullptr)};
  std::size_t n = std::exchange(t.count, 0);
  t.capacity = 0;
  while (n > 0) Py_DECREF(taken.items[--n]);
}

}  // namespace accel
