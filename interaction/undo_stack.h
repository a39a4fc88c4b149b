// The undo history: one process-wide stack of undoable edits.
//
// Every edit that can be taken back is a uic::Command. The editing code creates the
// command, hands it to PushCommand before it changes anything (so that the command's
// CreateCommand still sees the state before the edit), then makes the edit. The stack owns
// every command it was given: it deletes a command when it is dropped as the oldest of 32,
// refused by the memory limit, or cleared. A caller never touches a command after pushing
// it, since a refused command is already gone.
//
// Undo takes back the newest done command and moves it to the redo side; Redo applies the
// most recently undone one again and moves it back. A push empties the redo side.
//
// Memory: each command reports the bytes it holds (GetCommandSize); a push is refused when
// its size plus the stack's (done and undone commands) would exceed the limit the display
// settings give in KB (1000 bytes), read again at every push.
//
// Threads: interface thread only, no locks; the tracking thread never touches it.
#pragma once

#include <cstdint>
#include <deque>

#include "foundation/runtime/signal.h"

namespace uic {

// One undoable edit. The stack calls CreateCommand once, just before it stores the
// command, then Undo and Redo alternately.
class Command {
 public:
  virtual ~Command() = default;
  // Records the state the command needs (the state before the edit).
  virtual void CreateCommand() = 0;
  virtual void Undo() = 0;
  virtual void Redo() = 0;
  // Bytes the command holds, counted against the stack's memory limit.
  virtual int GetCommandSize() { return 4; }
};

}  // namespace uic

class UndoStack {
 public:
  static constexpr int kMaxCommands = 32;

  // The global stack, built before main.
  static UndoStack& Instance();

  UndoStack() = default;
  // Deletes the commands still held.
  ~UndoStack();
  UndoStack(const UndoStack&) = delete;
  UndoStack& operator=(const UndoStack&) = delete;

  // Takes ownership of cmd (null is ignored, false). Refreshes the limit from the display
  // settings; when the command's size plus GetSize exceeds it, logs "UndoStack::Push: undo
  // command to large (limit %ld MB), skipping" (level 3), deletes cmd and returns false
  // without calling its CreateCommand. Otherwise calls CreateCommand, drops the oldest
  // commands while 32 are held, appends cmd, deletes the redo side and returns true.
  bool Push(uic::Command* cmd);
  // Undoes the newest done command, if any.
  void Undo();
  // Redoes the most recently undone command, if any (no size or count check).
  void Redo();
  // Deletes every command of both sides, oldest first; sends nothing.
  void Clear();
  // The sum of the commands' sizes over both sides, in bytes.
  long GetSize();

  // The newest command of one side without removing it; null when that side is empty.
  uic::Command* PeekUndo() const { return undo_.empty() ? nullptr : undo_.back(); }
  uic::Command* PeekRedo() const { return redo_.empty() ? nullptr : redo_.back(); }
  int NumUndo() const { return static_cast<int>(undo_.size()); }
  int NumRedo() const { return static_cast<int>(redo_.size()); }
  // The memory limit in KB as last read from the display settings.
  int32_t GetMemoryLimit() const { return memory_limit_; }

  // Sent after every change made through the free functions below: false after a push
  // (also a refused one), true after undo, redo and clear.
  Signal1<bool> m_changed;

 private:
  static void DeleteAll(std::deque<uic::Command*>& commands);
  // Takes the newest command of `from`, applies it and appends it to `to`.
  void Move(std::deque<uic::Command*>& from, std::deque<uic::Command*>& to,
            void (uic::Command::*apply)());

  std::deque<uic::Command*> undo_;  // oldest at the front
  std::deque<uic::Command*> redo_;  // most recently undone at the back
  int max_commands_ = kMaxCommands;
  int32_t memory_limit_ = 250000;  // KB
};

// The entry points on the global stack. Each sends UndoStack::m_changed afterwards.
void PushCommand(uic::Command* cmd);
void UndoLastCommand();
void RedoLastCommand();
void ClearUndoStack();
// The newest command of the redo side (redo true) or of the done side, or null.
uic::Command* PeekUndoRedoCommand(bool redo);
