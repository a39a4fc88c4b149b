// The diagnostic log. Every component reports through Notify(level, format, ...) into
// the one process-wide NotifyContext, which filters by level, prefixes the level's
// name, strips the leading "Class::Method:" below level 5, collapses runs of equal
// lines, keeps the last 1024 lines and hands each line to its output (by default the
// standard error stream, one line per message).
//
// Levels: 0 "Always", 1 "Fatal", 2 "Warning", 3 "Notice", 4 "Info", 5 "Debug",
// 6..15 "Debug 01".."Debug 10"; other levels that pass the filter get "bad lev.".
// A message is written when its level is at most the current level (4 at start).
// A level-1 message that passes the filter aborts the process after it was written:
// use it only for programming errors, never for bad user or file data (log those at
// level 2 and fail the operation).
//
// Environment: NFY_LEVEL = "always", "fatal", "warn", "notice", "info", "debug",
// "debug_01".."debug_10" or "never" (any case) fixes the level for the whole run; an
// unknown name silences the log without fixing the level.
//
// Thread safety: Notify and every NotifyContext member may be called from any thread.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/spin_lock.h"

// One stored line.
struct NotifyMessage {
  static constexpr int kMaxLength = 511;
  std::int32_t level;   // the level the line was logged with
  std::int32_t length;  // characters in text, at most 511
  char text[512];       // the line, NUL-terminated, no newline
};

// Where lines go. Output runs while the log's lock is held: it must not call Notify,
// and should be quick. It may keep a copy of the handle (the line then outlives its
// ring slot).
class NotifyOutputFunction {
 public:
  virtual ~NotifyOutputFunction() = default;
  virtual void Output(const SharedPtr<NotifyMessage>& message) = 0;
};

class NotifyContext : public NotifyOutputFunction {
 public:
  static constexpr int kRingSize = 1024;
  static constexpr int kInitialLevel = 4;

  // A context with an empty ring, level 4 and itself as output, then NFY_LEVEL
  // applied. The process-wide context is made before main; local contexts are for tests.
  NotifyContext();
  // Releases the ring's lines; does not flush a pending repeat count or destroy the output.
  ~NotifyContext() override;
  NotifyContext(const NotifyContext&) = delete;
  NotifyContext& operator=(const NotifyContext&) = delete;

  // The process-wide context. It is never destroyed, so logging stays safe during exit.
  static NotifyContext& Instance();

  // On the process-wide context: the current level (callers compare it with 5 before
  // building costly debug output).
  static int GetNotifyLevel();
  // On the process-wide context: ignored when NFY_LEVEL fixed the level; 0..15 become
  // the level; anything else prints "NotifyContext::SetNotifyLevel: bad level %d\n"
  // on stderr and keeps the level.
  static void SetNotifyLevel(int level);
  // On the process-wide context: sets the level from a name, disregarding NFY_LEVEL.
  static bool SetGlobalNotifyLevelByName(const char* name);
  // On the process-wide context: replaces the output (null = store lines only). The
  // previous output is not destroyed; the new one must live as long as it is set.
  static void SetOutputFunction(NotifyOutputFunction* output);
  // On the process-wide context: the current output (null when lines are only stored), so
  // that a temporary output can pass lines on to it and be replaced by it again.
  static NotifyOutputFunction* GetOutputFunction();

  // This context's level from a name (case ignored): true when known; otherwise (also
  // for null) the level becomes -2 (silent) and the result is false.
  bool SetNotifyLevelByName(const char* name);

  // Members behind the static calls above, for this context.
  int Level() const { return level_.load(std::memory_order_relaxed); }
  void SetLevel(int level);
  void SetOutput(NotifyOutputFunction* output);
  NotifyOutputFunction* GetOutput();
  bool LevelFixed() const { return level_fixed_; }

  // Notify's work on this context.
  void Log(int level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));

  // The default output: the line's text and one '\n' on stderr.
  void Output(const SharedPtr<NotifyMessage>& message) override;

  // The level for a name, or -2 for an unknown name or null (-1 is "never").
  static int LevelFromName(const char* name);
  // The line prefix for a level ("bad lev." outside 0..15).
  static const char* LevelPrefix(int level);
  // The format with its leading "Class::Method:" and one blank removed (see notify.cpp).
  static const char* StripClassAndMethod(const char* format);

 private:
  void Store(int level, const char* text, int length);

  SharedPtr<NotifyMessage> ring_[kRingSize];
  NotifyOutputFunction* output_;
  js::SpinLock lock_;
  int newest_ = -1;
  std::atomic<int> level_{kInitialLevel};
  int repeat_count_ = 0;
  bool level_fixed_ = false;
};

// Rewrites a message's format before it is formatted, so that a class running code it
// shares with another reports under its own name. It gets the format and a buffer of
// size bytes and returns the format to use: format itself or a text in buffer. The
// result must hold the same conversions as format, in the same order.
using NotifyFormatFilter = const char* (*)(const char* format, char* buffer, size_t size);

// While it lives, the messages logged on its thread go through filter (only the
// innermost scope's filter applies). Scopes end in the reverse order of their start.
class NotifyFormatScope {
 public:
  explicit NotifyFormatScope(NotifyFormatFilter filter);
  ~NotifyFormatScope();
  NotifyFormatScope(const NotifyFormatScope&) = delete;
  NotifyFormatScope& operator=(const NotifyFormatScope&) = delete;

 private:
  NotifyFormatFilter previous_;
};

// Logs one line on the process-wide context. The result carries no meaning.
int Notify(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
