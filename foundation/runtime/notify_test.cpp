#include "foundation/runtime/notify.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Keeps every written line (and the handles, to check they outlive the ring).
class Capture : public NotifyOutputFunction {
 public:
  void Output(const SharedPtr<NotifyMessage>& message) override {
    lines.emplace_back(message->text, static_cast<size_t>(message->length));
    kept.push_back(message);
  }
  std::vector<std::string> lines;
  std::vector<SharedPtr<NotifyMessage>> kept;
};

void LogTo(NotifyContext& context, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void LogTo(NotifyContext& context, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  context.Log(level, format, args);
  va_end(args);
}

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("NFY_LEVEL");
    context_ = std::make_unique<NotifyContext>();
    context_->SetOutput(&capture_);
  }
  Capture capture_;
  std::unique_ptr<NotifyContext> context_;
};

TEST_F(NotifyTest, StripsClassAndMethodOnlyBelowDebugLevel) {
  struct Case {
    const char* format;
    const char* stripped;
  } cases[] = {
      {"FeatureImage::SetFileName: str==NULL !", "str==NULL !"},
      {"LockArray::Unlock try to unlock non-existent lock", "try to unlock non-existent lock"},
      {"uic::Global::SetCTracker: tracker is Null", ":SetCTracker: tracker is Null"},
      {"CameraEstimatorPTRZ::Run failed !", "failed !"},
      {"k3=%e, k5=%e\n", "k3=%e, k5=%e\n"},
      {"Single: colon", "Single: colon"},
      {"NoColonAtAll", "NoColonAtAll"},
      {"A::B:", ""},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(NotifyContext::StripClassAndMethod(c.format), c.stripped) << c.format;
  }

  LogTo(*context_, 2, "FeatureImage::SetFileName: str==NULL !");
  LogTo(*context_, 5, "Hidden::AtLevel4: not written");
  context_->SetLevel(5);
  LogTo(*context_, 2, "FeatureImage::SetFileName: str==NULL !");
  LogTo(*context_, 4, "CameraEstimatorPTRZ::Run failed after %d of %ld steps", 3, 10L);
  LogTo(*context_, -5, "odd");
  EXPECT_THAT(capture_.lines,
              ::testing::ElementsAre(
                  "Warning: str==NULL !", "Warning: FeatureImage::SetFileName: str==NULL !",
                  "Info: CameraEstimatorPTRZ::Run failed after 3 of 10 steps", "bad lev.: odd"));
}

// Puts "Own" in front of the class name of a "Shared::" message.
const char* RenameShared(const char* format, char* buffer, size_t size) {
  const std::string in(format);
  if (in.rfind("Shared::", 0) != 0 || in.size() + 4 > size) return format;
  const std::string out = "OwnShared::" + in.substr(8);
  out.copy(buffer, out.size());
  buffer[out.size()] = '\0';
  return buffer;
}

const char* Upper(const char*, char*, size_t) {
  return "UPPER %d";
}

// A filter rewrites the format before it is formatted and stripped, on its own thread
// only, and an inner scope's filter replaces the outer one until it ends.
TEST_F(NotifyTest, FormatScopeRewritesTheMessagesOfItsThread) {
  context_->SetLevel(5);
  {
    NotifyFormatScope scope(&RenameShared);
    LogTo(*context_, 2, "Shared::Run: step %d", 1);
    {
      NotifyFormatScope inner(&Upper);
      LogTo(*context_, 2, "Shared::Run: step %d", 2);
    }
    LogTo(*context_, 2, "Other::Run: step %d", 3);
    std::thread([&] { LogTo(*context_, 2, "Shared::Run: step %d", 4); }).join();
    context_->SetLevel(4);
    LogTo(*context_, 2, "Shared::Run: step %d", 5);
    context_->SetLevel(5);
  }
  LogTo(*context_, 2, "Shared::Run: step %d", 6);
  EXPECT_THAT(capture_.lines,
              ::testing::ElementsAre("Warning: OwnShared::Run: step 1", "Warning: UPPER 2",
                                     "Warning: Other::Run: step 3", "Warning: Shared::Run: step 4",
                                     "Warning: step 5", "Warning: Shared::Run: step 6"));
}

TEST_F(NotifyTest, RepeatsCollapseIntoACountBeforeTheNextDifferentLine) {
  for (int i = 0; i < 3; ++i) LogTo(*context_, 2, "same");
  LogTo(*context_, 3, "same");  // another level gives another prefix: not a repeat
  LogTo(*context_, 3, "same");
  LogTo(*context_, 2, "other");
  EXPECT_THAT(capture_.lines, ::testing::ElementsAre(
                                  "Warning: same", "Last message repeated 2 times", "Notice: same",
                                  "Last message repeated 1 times", "Warning: other"));
  EXPECT_EQ(capture_.kept[3]->level, 2) << "the repeat line takes the next message's level";
}

TEST_F(NotifyTest, LongLinesAreCutAt511Characters) {
  std::string text(600, 'x');
  text[501] = 'y';
  text[502] = 'z';
  LogTo(*context_, 2, "%s", text.c_str());
  ASSERT_EQ(capture_.lines.size(), 1u);
  EXPECT_EQ(capture_.lines[0].size(), 511u);
  EXPECT_EQ(capture_.lines[0], "Warning: " + text.substr(0, 502));
  EXPECT_EQ(capture_.kept[0]->text[511], '\0');
}

TEST_F(NotifyTest, RingReplacesTheOldestLineButKeptHandlesStayValid) {
  for (int i = 0; i < NotifyContext::kRingSize + 1; ++i) LogTo(*context_, 0, "line %d", i);
  ASSERT_EQ(capture_.kept.size(), 1025u);
  EXPECT_EQ(capture_.kept[0].RefCount(), 1) << "the ring let go of the first line";
  EXPECT_STREQ(capture_.kept[0]->text, "Always: line 0");
  EXPECT_EQ(capture_.kept[1024].RefCount(), 2);
  context_->SetOutput(nullptr);  // lines are still stored, just not written
  LogTo(*context_, 0, "quiet");
  EXPECT_EQ(capture_.lines.size(), 1025u);
}

TEST_F(NotifyTest, LevelNamesAndBadLevels) {
  struct Case {
    const char* name;
    int level;
  } cases[] = {{"always", 0},    {"FATAL", 1},  {"warn", 2},     {"notice", 3},
               {"info", 4},      {"debug", 5},  {"debug_01", 6}, {"DeBuG_03", 8},
               {"debug_10", 15}, {"never", -1}, {"warning", -2}, {"", -2}};
  for (const Case& c : cases) EXPECT_EQ(NotifyContext::LevelFromName(c.name), c.level) << c.name;
  EXPECT_EQ(NotifyContext::LevelFromName(nullptr), -2);

  EXPECT_FALSE(context_->SetNotifyLevelByName("loud"));
  EXPECT_EQ(context_->Level(), -2);
  LogTo(*context_, 0, "silent");
  EXPECT_TRUE(capture_.lines.empty());
  context_->SetLevel(3);  // an unknown name does not fix the level
  EXPECT_EQ(context_->Level(), 3);

  for (int bad : {16, -1}) {
    ::testing::internal::CaptureStderr();
    context_->SetLevel(bad);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "NotifyContext::SetNotifyLevel: bad level " + std::to_string(bad) + "\n");
    EXPECT_EQ(context_->Level(), 3);
  }
}

TEST(NotifyEnvironmentTest, NfyLevelFixesValidLevelsOnly) {
  struct Case {
    const char* value;
    int level;
    bool fixed;
  } cases[] = {{"never", -1, true}, {"warn", 2, true}, {"DeBuG_03", 8, true}, {"loud", -2, false}};
  for (const Case& c : cases) {
    setenv("NFY_LEVEL", c.value, 1);
    NotifyContext context;
    Capture capture;
    context.SetOutput(&capture);
    EXPECT_EQ(context.Level(), c.level) << c.value;
    EXPECT_EQ(context.LevelFixed(), c.fixed) << c.value;
    context.SetLevel(3);
    EXPECT_EQ(context.Level(), c.fixed ? c.level : 3) << c.value;
    LogTo(context, 2, "warned");
    LogTo(context, 3, "noticed");
    if (c.level == -1) {
      EXPECT_TRUE(capture.lines.empty());
    } else if (c.level == 2) {
      EXPECT_THAT(capture.lines, ::testing::ElementsAre("Warning: warned"));
    }
  }
  unsetenv("NFY_LEVEL");
}

TEST(NotifyGlobalTest, NotifyWritesThroughTheProcessWideContext) {
  if (NotifyContext::Instance().LevelFixed()) GTEST_SKIP() << "NFY_LEVEL is set";
  Capture capture;
  NotifyContext::SetOutputFunction(&capture);
  const int saved = NotifyContext::GetNotifyLevel();
  NotifyContext::SetNotifyLevel(4);
  static int run = 0;  // a distinct line first, so a rerun's line is not a collapsed repeat
  Notify(0, "NotifyGlobalTest: run %d", ++run);
  Notify(2, "WorkerPool::Start: only %d of %d threads started", 3, 8);
  NotifyContext::SetOutputFunction(&NotifyContext::Instance());
  NotifyContext::SetNotifyLevel(saved);
  ASSERT_EQ(capture.lines.size(), 2u);
  EXPECT_EQ(capture.lines[1], "Warning: only 3 of 8 threads started");
}

TEST(NotifyDeathTest, FatalAbortsOnlyWhenTheFilterLetsItThrough) {
  unsetenv("NFY_LEVEL");
  NotifyContext context;
  context.SetLevel(0);
  LogTo(context, 1, "Checked::Here: dropped at level 0");  // returns normally
  if (NotifyContext::Instance().LevelFixed()) GTEST_SKIP() << "NFY_LEVEL is set";
  EXPECT_DEATH(Notify(1, "Broken::Invariant: index %d out of range", 7),
               "Fatal: index 7 out of range");
}

}  // namespace
