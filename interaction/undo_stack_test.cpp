#include "interaction/undo_stack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/display_settings.h"
#include "testing/log_capture.h"

namespace {

// Records what the stack does with it into a shared journal: "c3" created, "u3" undone,
// "r3" redone, "d3" deleted.
struct Journal {
  std::vector<std::string> events;
  int Count(const std::string& event) const {
    int n = 0;
    for (const std::string& e : events) n += e == event;
    return n;
  }
};

class JournalCommand : public uic::Command {
 public:
  JournalCommand(Journal* journal, int id, int size = 4)
      : journal_(journal), id_(id), size_(size) {}
  ~JournalCommand() override { Log("d"); }
  void CreateCommand() override { Log("c"); }
  void Undo() override { Log("u"); }
  void Redo() override { Log("r"); }
  int GetCommandSize() override { return size_; }

 private:
  void Log(const char* what) { journal_->events.push_back(what + std::to_string(id_)); }
  Journal* journal_;
  int id_;
  int size_;
};

// Each test starts and ends with an empty global stack and the default limit.
class UndoStackTest : public ::testing::Test, public HasSlots {
 protected:
  void SetUp() override {
    UndoStack::Instance().Clear();
    DisplaySettings::Get().undo_memory_limit = DefaultUndoMemoryLimit();
    UndoStack::Instance().m_changed.Connect(this, &UndoStackTest::OnChanged);
  }
  void TearDown() override {
    UndoStack::Instance().Clear();
    DisplaySettings::Get().undo_memory_limit = DefaultUndoMemoryLimit();
  }
  void OnChanged(bool value) { emitted.push_back(value); }

  uic::Command* Make(int id, int size = 4) { return new JournalCommand(&journal, id, size); }

  Journal journal;
  std::vector<bool> emitted;
};

TEST_F(UndoStackTest, KeepsTheNewest32AndDeletesTheOldestAtThe33rdPush) {
  UndoStack& stack = UndoStack::Instance();
  for (int i = 1; i <= 32; ++i) PushCommand(Make(i));
  EXPECT_EQ(journal.Count("d1"), 0);
  uic::Command* last = Make(33);
  PushCommand(last);
  EXPECT_EQ(journal.Count("d1"), 1);
  EXPECT_EQ(stack.NumUndo(), 32);
  EXPECT_EQ(PeekUndoRedoCommand(false), last);
  EXPECT_EQ(stack.GetSize(), 32 * 4);
  // Deleted before the new command is stored, after its CreateCommand.
  const auto& e = journal.events;
  EXPECT_EQ(std::vector<std::string>(e.end() - 2, e.end()),
            (std::vector<std::string>{"c33", "d1"}));
  EXPECT_EQ(emitted, std::vector<bool>(33, false));
}

TEST_F(UndoStackTest, UndoRedoOrderAndAPushClearsTheRedoSide) {
  UndoStack& stack = UndoStack::Instance();
  uic::Command* a = Make(1);
  uic::Command* b = Make(2);
  PushCommand(a);
  PushCommand(b);
  UndoLastCommand();
  EXPECT_EQ(PeekUndoRedoCommand(true), b);
  EXPECT_EQ(PeekUndoRedoCommand(false), a);
  UndoLastCommand();
  EXPECT_EQ(PeekUndoRedoCommand(false), nullptr);
  UndoLastCommand();  // nothing left: only the trace line
  RedoLastCommand();
  RedoLastCommand();
  RedoLastCommand();
  EXPECT_EQ(journal.events, (std::vector<std::string>{"c1", "c2", "u2", "u1", "r1", "r2"}));
  EXPECT_EQ(stack.NumUndo(), 2);
  EXPECT_EQ(PeekUndoRedoCommand(false), b);
  EXPECT_EQ(PeekUndoRedoCommand(true), nullptr);

  UndoLastCommand();
  UndoLastCommand();
  PushCommand(Make(3));
  EXPECT_EQ(journal.Count("d1") + journal.Count("d2"), 2);
  EXPECT_EQ(stack.NumRedo(), 0);
  EXPECT_EQ(stack.NumUndo(), 1);
  EXPECT_EQ(emitted, (std::vector<bool>{false, false, true, true, true, true, true, true, true,
                                        true, false}));

  emitted.clear();
  stack.Clear();  // the member sends nothing
  EXPECT_TRUE(emitted.empty());
  EXPECT_EQ(journal.Count("d3"), 1);
  ClearUndoStack();
  EXPECT_EQ(emitted, std::vector<bool>{true});
  EXPECT_EQ(stack.GetSize(), 0);
}

TEST_F(UndoStackTest, MemoryLimitRefusesWithoutCreatingAndDeletesOnce) {
  UndoStack& stack = UndoStack::Instance();
  // The default limit: 250,000 KB of 1000 bytes; exactly full is still accepted.
  PushCommand(Make(1, 249999000));
  PushCommand(Make(2, 1000));
  EXPECT_EQ(stack.NumUndo(), 2);
  {
    kxtest::LogCapture log(5);
    PushCommand(Make(3, 1));
    EXPECT_TRUE(log.Has("UndoStack::Push: undo command to large (limit 250 MB), skipping"));
  }
  EXPECT_EQ(journal.Count("c3"), 0);
  EXPECT_EQ(journal.Count("d3"), 1);
  EXPECT_EQ(stack.NumUndo(), 2);
  EXPECT_EQ(emitted.back(), false);

  // Undone commands still count (they are only deleted by a push that fits).
  UndoLastCommand();
  DisplaySettings::Get().undo_memory_limit = 1;  // read again at every push
  PushCommand(Make(4, 1));
  EXPECT_EQ(journal.Count("d4"), 1);
  EXPECT_EQ(stack.NumRedo(), 1);
  EXPECT_EQ(stack.GetMemoryLimit(), 1);
  stack.Clear();
  PushCommand(Make(5, 1000));
  EXPECT_EQ(stack.NumUndo(), 1);
  EXPECT_EQ(journal.Count("c5"), 1);
}

}  // namespace
