#include "app/batch_frame_check.h"

#include <map>
#include <memory>
#include <utility>

#include "image/image_file_io.h"
#include "image/sequence_loader.h"

namespace {

struct FrameRead {
  bool ok = false;
  int32_t width = 0;
  int32_t height = 0;
  std::string why;
};

// Opens and decodes one picture; the rows go to a scratch row and are dropped.
FrameRead ReadWholeFrame(const char* name) {
  FrameRead read;
  auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
  if (ImageFileIO::OpenRead(ctx.get(), name) != 0) {
    ImageFileIO::Close(ctx.get());
    read.why = "cannot be opened as a picture";
    return read;
  }
  read.width = ctx->width;
  read.height = ctx->height;
  if (read.width <= 0 || read.height <= 0) {
    ImageFileIO::Close(ctx.get());
    read.why = "has no picture size";
    return read;
  }
  std::vector<uint32_t> row(size_t(read.width));
  for (int32_t y = 0; y < read.height; ++y) {
    if (ImageFileIO::ReadRow(row.data(), ctx.get()) != 0) {
      ImageFileIO::Close(ctx.get());
      read.why = "ends at row " + std::to_string(y) + " of " + std::to_string(read.height);
      return read;
    }
  }
  if (OrientationTransposes(ctx->orientation)) std::swap(read.width, read.height);
  ImageFileIO::Close(ctx.get());
  read.ok = true;
  return read;
}

}  // namespace

SequenceFrameCheck CheckSequenceFrames(const PackedStringList& files) {
  SequenceFrameCheck check;
  std::vector<std::pair<int32_t, FrameRead>> reads;
  std::map<std::pair<int32_t, int32_t>, int> sizes;
  for (int32_t i = 0; i < files.Count(); ++i) {
    FrameRead read = ReadWholeFrame(files.GetEntryName(i));
    if (read.ok) ++sizes[{read.width, read.height}];
    reads.emplace_back(i, std::move(read));
  }
  int most = 0;
  for (const auto& [size, count] : sizes) {
    if (count > most) {
      most = count;
      check.width = size.first;
      check.height = size.second;
    }
  }
  for (const auto& [i, read] : reads) {
    FrameFault fault{files.GetEntryNumber(i), files.GetEntryName(i), read.why};
    if (!read.ok) {
      check.unreadable.push_back(std::move(fault));
    } else if (read.width != check.width || read.height != check.height) {
      fault.what = std::to_string(read.width) + " x " + std::to_string(read.height);
      check.other_size.push_back(std::move(fault));
    }
  }
  return check;
}
