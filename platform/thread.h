// Threads of the program. Every thread gets a 4 MB stack. A thread may ask for a
// below-normal priority; that request is best effort (it is silently dropped where
// the system refuses it).
#pragma once

#include <pthread.h>

#include <cstddef>

namespace platform {

inline constexpr std::size_t kThreadStackBytes = 4 * 1024 * 1024;

enum class ThreadPriority { kNormal, kBelowNormal };

// One operating-system thread. Not copyable or movable; start it once, join it once.
class Thread {
 public:
  // The thread's body. It must not let an exception escape (that ends the process);
  // ThreadEntry (foundation/thread_entry.h) is the catching wrapper.
  using Function = void (*)(void* argument);

  Thread() = default;
  // Joins the thread when it was started and not yet joined.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts function(argument) on a new thread. Returns false when the thread could
  // not be created (then nothing runs) or when this object already holds a thread.
  bool Start(Function function, void* argument, ThreadPriority priority = ThreadPriority::kNormal);

  // Waits until the thread has ended. Does nothing when no thread was started or it
  // was already joined. Must not be called by the thread itself.
  void Join();

  // True from a successful Start until Join.
  bool Joinable() const { return started_; }

 private:
  pthread_t handle_{};
  bool started_ = false;
};

}  // namespace platform
