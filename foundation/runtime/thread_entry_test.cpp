#include "foundation/runtime/thread_entry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/runtime/notify.h"
#include "testing/log_capture.h"

namespace {

TEST(ThreadEntryTest, RunsTheRecordsFunctionAndContainsItsExceptions) {
  kxtest::LogCapture log;
  int value = 0;
  ThreadStartRecord ok;
  ok.function = [](void* arg) { *static_cast<int*>(arg) = 42; };
  ok.argument = &value;
  ASSERT_TRUE(ok.thread.Start(&ThreadEntry, &ok));
  ok.thread.Join();
  EXPECT_EQ(value, 42);

  ThreadStartRecord throws;
  throws.function = [](void*) { throw std::runtime_error("disk gone"); };
  ASSERT_TRUE(throws.thread.Start(&ThreadEntry, &throws, platform::ThreadPriority::kBelowNormal));
  throws.thread.Join();
  if (!NotifyContext::Instance().LevelFixed()) {  // NFY_LEVEL may silence the log
    EXPECT_THAT(log.lines, ::testing::ElementsAre(
                               "Warning: ThreadEntry: thread ended by exception: disk gone"));
  }
}

}  // namespace
