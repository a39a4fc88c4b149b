// Test helper: collects the log's lines while it lives.
#pragma once

#include <string>
#include <vector>

#include "foundation/runtime/notify.h"

namespace kxtest {

// Replaces the log's output for its lifetime. A distinct line is logged first (to no
// output), so the first message under test is never folded into a repeat count.
class LogCapture : public NotifyOutputFunction {
 public:
  // `level`, when not negative, is the log's level while the capture lives (5 keeps class
  // and method names in the lines).
  explicit LogCapture(int level = -1)
      : saved_level_(NotifyContext::GetNotifyLevel()), set_level_(level >= 0) {
    if (set_level_) NotifyContext::SetNotifyLevel(level);
    static int serial = 0;
    NotifyContext::SetOutputFunction(nullptr);
    Notify(0, "log capture %d", ++serial);
    NotifyContext::SetOutputFunction(this);
  }
  ~LogCapture() override {
    NotifyContext::SetOutputFunction(&NotifyContext::Instance());
    if (set_level_) NotifyContext::SetNotifyLevel(saved_level_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  void Output(const SharedPtr<NotifyMessage>& message) override {
    lines.emplace_back(message->text, size_t(message->length));
    text += message->text;
    text += '\n';
  }
  // True when some line holds `part`.
  bool Has(const std::string& part) const { return text.find(part) != std::string::npos; }

  std::vector<std::string> lines;
  std::string text;  // the lines, each ended by '\n'

 private:
  int saved_level_;
  bool set_level_;
};

}  // namespace kxtest
