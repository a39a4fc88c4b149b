#include "platform/thread.h"

#include <sys/resource.h>
#include <unistd.h>
#include <cerrno>

#include <new>

namespace platform {
namespace {

struct Launch {
  Thread::Function function;
  void* argument;
  ThreadPriority priority;
};

// Nice increment for "below normal": a small step, so the thread still runs when
// the machine is busy but yields to the normal-priority threads.
constexpr int kBelowNormalNiceStep = 2;

void* Trampoline(void* raw) {
  Launch launch = *static_cast<Launch*>(raw);
  delete static_cast<Launch*>(raw);
  if (launch.priority == ThreadPriority::kBelowNormal) {
    // On Linux the nice value is per thread when addressed by the thread id.
    const id_t tid = static_cast<id_t>(gettid());
    errno = 0;
    int nice_now = getpriority(PRIO_PROCESS, tid);
    if (errno == 0) setpriority(PRIO_PROCESS, tid, nice_now + kBelowNormalNiceStep);
  }
  launch.function(launch.argument);
  return nullptr;
}

}  // namespace

Thread::~Thread() {
  Join();
}

bool Thread::Start(Function function, void* argument, ThreadPriority priority) {
  if (started_ || function == nullptr) return false;
  Launch* launch = new (std::nothrow) Launch{function, argument, priority};
  if (launch == nullptr) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete launch;
    return false;
  }
  bool ok = pthread_attr_setstacksize(&attr, kThreadStackBytes) == 0 &&
            pthread_create(&handle_, &attr, &Trampoline, launch) == 0;
  pthread_attr_destroy(&attr);
  if (!ok) {
    delete launch;
    return false;
  }
  started_ = true;
  return true;
}

void Thread::Join() {
  if (!started_) return;
  pthread_join(handle_, nullptr);
  started_ = false;
}

}  // namespace platform
