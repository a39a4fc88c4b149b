#include "foundation/runtime/notify.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/format.h"
#include "platform/string_compare.h"

namespace {

constexpr int kLineBytes = NotifyMessage::kMaxLength + 1;

const char* const kPrefixes[16] = {
    "Always",   "Fatal",    "Warning",  "Notice",   "Info",     "Debug",    "Debug 01", "Debug 02",
    "Debug 03", "Debug 04", "Debug 05", "Debug 06", "Debug 07", "Debug 08", "Debug 09", "Debug 10",
};

const char* const kNames[16] = {
    "always",   "fatal",    "warn",     "notice",   "info",     "debug",    "debug_01", "debug_02",
    "debug_03", "debug_04", "debug_05", "debug_06", "debug_07", "debug_08", "debug_09", "debug_10",
};

constexpr int kLevelNever = -1;
constexpr int kLevelUnknownName = -2;

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

thread_local NotifyFormatFilter t_format_filter = nullptr;

// Built before main so that NFY_LEVEL is read at start-up.
[[maybe_unused]] NotifyContext& g_process_context = NotifyContext::Instance();

}  // namespace

NotifyContext::NotifyContext() : output_(this) {
  if (std::optional<std::string> name = platform::GetEnvironmentVariable("NFY_LEVEL")) {
    level_fixed_ = SetNotifyLevelByName(name->c_str());
  }
}

NotifyContext::~NotifyContext() = default;

NotifyContext& NotifyContext::Instance() {
  // Placement in static storage and never destroyed: static destructors of other
  // objects may still log while the process exits.
  alignas(NotifyContext) static unsigned char storage[sizeof(NotifyContext)];
  static NotifyContext* instance = ::new (storage) NotifyContext;
  return *instance;
}

int NotifyContext::GetNotifyLevel() {
  return Instance().Level();
}

void NotifyContext::SetNotifyLevel(int level) {
  Instance().SetLevel(level);
}

bool NotifyContext::SetGlobalNotifyLevelByName(const char* name) {
  return Instance().SetNotifyLevelByName(name);
}

void NotifyContext::SetOutputFunction(NotifyOutputFunction* output) {
  Instance().SetOutput(output);
}

NotifyOutputFunction* NotifyContext::GetOutputFunction() {
  return Instance().GetOutput();
}

int NotifyContext::LevelFromName(const char* name) {
  if (name == nullptr) return kLevelUnknownName;
  for (int level = 0; level < 16; ++level) {
    if (platform::CompareNoCase(name, kNames[level]) == 0) return level;
  }
  if (platform::CompareNoCase(name, "never") == 0) return kLevelNever;
  return kLevelUnknownName;
}

const char* NotifyContext::LevelPrefix(int level) {
  if (level < 0 || level > 15) return "bad lev.";
  return kPrefixes[level];
}

bool NotifyContext::SetNotifyLevelByName(const char* name) {
  int level = LevelFromName(name);
  level_.store(level, std::memory_order_relaxed);
  return level != kLevelUnknownName;
}

void NotifyContext::SetLevel(int level) {
  if (level_fixed_) return;
  if (static_cast<unsigned>(level) > 15u) {
    platform::ConsolePrintf(stderr, "NotifyContext::SetNotifyLevel: bad level %d\n", level);
    return;
  }
  level_.store(level, std::memory_order_relaxed);
}

void NotifyContext::SetOutput(NotifyOutputFunction* output) {
  std::lock_guard<js::SpinLock> guard(lock_);
  output_ = output;
}

NotifyOutputFunction* NotifyContext::GetOutput() {
  std::lock_guard<js::SpinLock> guard(lock_);
  return output_;
}

// Removes the first "A::B" (and one colon after B, then one blank): messages start with
// the issuing class and method, which only matter when debugging. Only the first pair
// of names goes, so "ns::Class::Method: x" keeps ":Method: x".
const char* NotifyContext::StripClassAndMethod(const char* format) {
  const char* p = format;
  while (*p != ':') {
    if (IsBlankOrControl(*p)) return format;
    ++p;
  }
  if (p[1] != ':') return format;
  p += 2;
  while (*p != ':' && !IsBlankOrControl(*p)) ++p;
  if (*p == ':') ++p;
  if (*p == ' ') ++p;
  return p;
}

void NotifyContext::Log(int level, const char* format, va_list args) {
  const int current = level_.load(std::memory_order_relaxed);
  if (level > current) return;
  char filtered[kLineBytes];
  if (t_format_filter) format = t_format_filter(format, filtered, sizeof filtered);
  if (current < 5) format = StripClassAndMethod(format);

  char line[kLineBytes];
  int prefix_length = platform::FormatBounded(line, sizeof line, "%s: ", LevelPrefix(level));
  int text_length = platform::FormatBoundedV(
      line + prefix_length, sizeof line - static_cast<size_t>(prefix_length), format, args);
  int length = prefix_length + (text_length < 0 ? 0 : text_length);
  if (length > NotifyMessage::kMaxLength) length = NotifyMessage::kMaxLength;
  line[length] = '\0';

  try {
    Store(level, line, length);
  } catch (...) {
    // Out of memory or a failing output: the line is lost, the caller goes on.
  }
  if (level == 1) std::abort();
}

void NotifyContext::Store(int level, const char* text, int length) {
  std::lock_guard<js::SpinLock> guard(lock_);
  if (newest_ >= 0) {
    const NotifyMessage& last = *ring_[newest_];
    if (last.length == length && std::memcmp(last.text, text, static_cast<size_t>(length)) == 0) {
      ++repeat_count_;
      return;
    }
  }
  auto put = [this](int line_level, const char* line, int line_length) {
    SharedPtr<NotifyMessage> message = SharedPtr<NotifyMessage>::Make();
    message->level = line_level;
    message->length = line_length;
    std::memcpy(message->text, line, static_cast<size_t>(line_length));
    message->text[line_length] = '\0';
    newest_ = (newest_ + 1) % kRingSize;
    ring_[newest_] = std::move(message);
    if (output_ != nullptr) output_->Output(ring_[newest_]);
  };
  if (repeat_count_ != 0) {
    char repeat[64];
    int repeat_length = platform::FormatBounded(repeat, sizeof repeat,
                                                "Last message repeated %d times", repeat_count_);
    repeat_count_ = 0;
    put(level, repeat, repeat_length);
  }
  put(level, text, length);
}

void NotifyContext::Output(const SharedPtr<NotifyMessage>& message) {
  char line[kLineBytes + 1];
  const size_t length = static_cast<size_t>(message->length);
  std::memcpy(line, message->text, length);
  line[length] = '\n';
  std::lock_guard<std::mutex> console(platform::ConsoleMutex());
  std::fwrite(line, 1, length + 1, stderr);
  std::fflush(stderr);
}

int Notify(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  NotifyContext::Instance().Log(level, format, args);
  va_end(args);
  return 0;
}

NotifyFormatScope::NotifyFormatScope(NotifyFormatFilter filter) : previous_(t_format_filter) {
  t_format_filter = filter;
}

NotifyFormatScope::~NotifyFormatScope() {
  t_format_filter = previous_;
}
