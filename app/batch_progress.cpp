#include "app/batch_progress.h"

#include <cmath>

namespace {

std::string TimeOfDay(long long ms) {
  const long long seconds = (ms / 1000) % 86400;
  char text[16];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

}  // namespace

BatchProgress::BatchProgress(std::FILE* out, bool terminal)
    : out_(out), terminal_(terminal), start_(std::chrono::steady_clock::now()) {}

std::string BatchProgress::RemainingTimeText(int percent, long long elapsed_ms) {
  if (percent <= 0) return "N/A";
  const long long s = elapsed_ms / percent;
  return "Time remaining: " + TimeOfDay((100 - percent) * s) + " (Total: " + TimeOfDay(100 * s) +
         ")";
}

void BatchProgress::Update(double fraction) {
  if (!(fraction >= 0.0)) fraction = 0.0;
  if (fraction > 1.0) fraction = 1.0;
  const int percent = int(std::trunc(fraction * 100.0 + 0.5));
  std::lock_guard<std::mutex> lock(mutex_);
  if (percent == last_percent_) return;
  last_percent_ = percent;
  const long long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start_)
                                .count();
  const std::string text =
      "kalvex: tracking " + std::to_string(percent) + " %, " + RemainingTimeText(percent, elapsed);
  if (terminal_) {
    line_ = text;
    std::fprintf(out_, "\r%-72s", text.c_str());
    line_open_ = true;
  } else {
    if (percent / 10 <= last_tenth_) return;
    last_tenth_ = percent / 10;
    std::fprintf(out_, "%s\n", text.c_str());
  }
  std::fflush(out_);
}

void BatchProgress::Output(const SharedPtr<NotifyMessage>& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  // "\r" and erase to the end of the line: the log line starts on a clean line.
  if (line_open_) std::fputs("\r\033[K", out_);
  std::fwrite(message->text, 1, size_t(message->length), out_);
  std::fputc('\n', out_);
  if (line_open_) std::fprintf(out_, "%-72s", line_.c_str());
  std::fflush(out_);
}

void BatchProgress::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (line_open_) std::fputc('\n', out_);
  line_open_ = false;
  std::fflush(out_);
}
