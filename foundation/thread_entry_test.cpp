#include "foundation/thread_entry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/notify.h"

namespace {

class LogCapture : public NotifyOutputFunction {
 public:
  void Output(const SharedPtr<NotifyMessage>& m) override { lines.emplace_back(m->text); }
  std::vector<std::string> lines;
};

TEST(ThreadEntryTest, RunsTheRecordsFunctionAndContainsItsExceptions) {
  LogCapture log;
  NotifyContext::SetOutputFunction(&log);
  static int run = 0;  // a distinct line first, so a rerun's warning is not a collapsed repeat
  Notify(0, "ThreadEntryTest: run %d", ++run);
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
  NotifyContext::SetOutputFunction(&NotifyContext::Instance());
  if (!NotifyContext::Instance().LevelFixed()) {  // NFY_LEVEL may silence the log
    EXPECT_THAT(log.lines, ::testing::ElementsAre(
                               ::testing::StartsWith("Always: "),
                               "Warning: ThreadEntry: thread ended by exception: disk gone"));
  }
}

}  // namespace
