#include "platform/thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>

namespace platform {
namespace {

struct Probe {
  std::atomic<int> runs{0};
  size_t stack_bytes = 0;
};

void Body(void* argument) {
  auto* probe = static_cast<Probe*>(argument);
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &probe->stack_bytes);
    pthread_attr_destroy(&attr);
  }
  probe->runs++;
}

TEST(ThreadTest, RunsOnceOnAFourMegabyteStackAtEitherPriority) {
  for (ThreadPriority priority : {ThreadPriority::kNormal, ThreadPriority::kBelowNormal}) {
    Probe probe;
    Thread thread;
    ASSERT_TRUE(thread.Start(&Body, &probe, priority));
    EXPECT_TRUE(thread.Joinable());
    EXPECT_FALSE(thread.Start(&Body, &probe)) << "a started thread object is not reused";
    thread.Join();
    EXPECT_FALSE(thread.Joinable());
    EXPECT_EQ(probe.runs.load(), 1);
    EXPECT_GE(probe.stack_bytes, kThreadStackBytes);
  }
}

TEST(ThreadTest, DestructorJoins) {
  Probe probe;
  {
    Thread thread;
    ASSERT_TRUE(thread.Start(&Body, &probe));
  }
  EXPECT_EQ(probe.runs.load(), 1);
}

}  // namespace
}  // namespace platform
