#include "interaction/undo_stack.h"

#include "foundation/runtime/notify.h"
#include "scene/display_settings.h"

UndoStack& UndoStack::Instance() {
  static UndoStack stack;
  return stack;
}

UndoStack::~UndoStack() {
  Clear();
}

void UndoStack::DeleteAll(std::deque<uic::Command*>& commands) {
  for (uic::Command* cmd : commands) delete cmd;
  commands.clear();
}

bool UndoStack::Push(uic::Command* cmd) {
  if (cmd == nullptr) return false;
  memory_limit_ = DisplaySettings::Get().undo_memory_limit;
  // The size is asked before CreateCommand: the point commands count the map as it is.
  const long s = cmd->GetCommandSize();
  const long u = GetSize();
  const long limit = long(memory_limit_) * 1000;
  if (s + u > limit) {
    Notify(3, "UndoStack::Push: undo command to large (limit %ld MB), skipping",
           long(memory_limit_) / 1000);
    delete cmd;
    return false;
  }
  Notify(5, "UndoStack::Push: command size %ld, used mem. %ld, limit %ld", s / 1000, u / 1000,
         long(memory_limit_) / 1000);
  cmd->CreateCommand();
  while (int(undo_.size()) >= max_commands_) {
    delete undo_.front();
    undo_.pop_front();
  }
  undo_.push_back(cmd);
  DeleteAll(redo_);
  return true;
}

void UndoStack::Undo() {
  Move(undo_, redo_, &uic::Command::Undo);
}

void UndoStack::Redo() {
  Move(redo_, undo_, &uic::Command::Redo);
}

void UndoStack::Move(std::deque<uic::Command*>& from, std::deque<uic::Command*>& to,
                     void (uic::Command::*apply)()) {
  // Both directions log the same text.
  Notify(5, "UndoStack::Undo: no. of cmd's (undo, redo): %ld, %ld", long(undo_.size()),
         long(redo_.size()));
  if (from.empty()) return;
  uic::Command* cmd = from.back();
  from.pop_back();
  (cmd->*apply)();
  to.push_back(cmd);
}

void UndoStack::Clear() {
  DeleteAll(undo_);
  DeleteAll(redo_);
}

long UndoStack::GetSize() {
  long size = 0;
  for (uic::Command* cmd : undo_) size += cmd->GetCommandSize();
  for (uic::Command* cmd : redo_) size += cmd->GetCommandSize();
  return size;
}

void PushCommand(uic::Command* cmd) {
  UndoStack& stack = UndoStack::Instance();
  stack.Push(cmd);
  stack.m_changed.Emit(false);
}

void UndoLastCommand() {
  UndoStack& stack = UndoStack::Instance();
  stack.Undo();
  stack.m_changed.Emit(true);
}

void RedoLastCommand() {
  UndoStack& stack = UndoStack::Instance();
  stack.Redo();
  stack.m_changed.Emit(true);
}

void ClearUndoStack() {
  UndoStack& stack = UndoStack::Instance();
  stack.Clear();
  stack.m_changed.Emit(true);
}

uic::Command* PeekUndoRedoCommand(bool redo) {
  const UndoStack& stack = UndoStack::Instance();
  return redo ? stack.PeekRedo() : stack.PeekUndo();
}
