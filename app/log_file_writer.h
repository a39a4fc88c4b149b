// LogFileWriter: the log's output into a file of the user's choice, one line per message.
//
// Every message is flushed as it is written: a level-1 message ends the process right
// after it was output, and a line still in the stream's buffer would be lost with it.
//
// Threads: Output runs under the log's lock (any thread); Open and Close must not run
// while the writer is the log's output (register it after Open, unregister it before
// Close or destruction).
#pragma once

#include <cstdio>
#include <string>

#include "foundation/runtime/notify.h"

class LogFileWriter : public NotifyOutputFunction {
 public:
  LogFileWriter() = default;
  // Closes the file.
  ~LogFileWriter() override;
  LogFileWriter(const LogFileWriter&) = delete;
  LogFileWriter& operator=(const LogFileWriter&) = delete;

  // Closes a file that is open, then creates or truncates path for writing (binary: the
  // lines end in "\n" on every platform). True when the new file is open.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // The message's text (its stored length) and "\n", flushed; nothing while closed. A
  // write error is not reported (the log has nowhere else to say it).
  void Output(const SharedPtr<NotifyMessage>& message) override;

 private:
  std::FILE* file_ = nullptr;
};
