// The process-wide record on the last opened image sequence, shown by the sequence
// dialog and filled by the sequence loader. Written and read on one thread at a time
// (the loader's caller and the dialog); it does not lock.
#pragma once

#include <cstdint>
#include <string>

struct SequenceInfo {
  std::int32_t frame_count = 0;
  std::int32_t second_count = 0;
  std::int32_t frame_rate = 0;
  std::int32_t duration = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string file_name;
  std::int32_t state = 2;  // 2 nothing opened yet, 1 after a successful open

  // Numbers to 0, an empty file name, state 2.
  void Clear();

  // The process-wide record, made on first use; never null.
  static SequenceInfo& Instance();
};
