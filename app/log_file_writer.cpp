#include "app/log_file_writer.h"

LogFileWriter::~LogFileWriter() {
  Close();
}

bool LogFileWriter::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  return file_ != nullptr;
}

void LogFileWriter::Close() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
}

void LogFileWriter::Output(const SharedPtr<NotifyMessage>& message) {
  if (file_ == nullptr || !message) return;
  std::fwrite(message->text, 1, size_t(message->length), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}
