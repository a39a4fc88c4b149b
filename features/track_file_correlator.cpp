#include "features/track_file_correlator.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "platform/console.h"

namespace {

const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

// One "%d"- or "%lf"-like field, in the C notation whatever the locale; false when
// none is there or it does not fit the type.
template <class T>
bool ParseNumber(const char*& p, const char* end, T& out) {
  p = SkipBlanks(p, end);
  if (p < end && *p == '+') ++p;
  const auto result = std::from_chars(p, end, out);
  if (result.ec != std::errc()) return false;
  p = result.ptr;
  return true;
}

}  // namespace

FeatureCorrelatorReadFT2DFile::FeatureCorrelatorReadFT2DFile() = default;

FeatureCorrelatorReadFT2DFile::~FeatureCorrelatorReadFT2DFile() {
  CloseFile();
}

void FeatureCorrelatorReadFT2DFile::CloseFile() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  // Nothing is left to read: the look-ahead of a closed file must not start a block.
  line_ = Line();
}

int32_t FeatureCorrelatorReadFT2DFile::Compute() {
  correspondences_.clear();
  if (second_image_ == nullptr) return 0;  // SetFeatureImages has reported it
  ReadFeatures(first_image_, second_image_);
  return static_cast<int32_t>(tracked_);
}

SharedPtr<FeatureCorrelator> FeatureCorrelatorReadFT2DFile::Clone() {
  Notify(2, "FeatureCorrelatorReadFT2DFile::Clone: this method has side effects: dont use");
  platform::ConsolePrintf(stderr,
                          "simultaneous use of shared and non-shared pointer is not possible\n");
  return SharedPtr<FeatureCorrelator>();
}

int32_t FeatureCorrelatorReadFT2DFile::ReadLine() {
  char buffer[2048];
  Line line;
  bool ok = file_ != nullptr && std::fgets(buffer, sizeof buffer, file_) != nullptr;
  if (ok) {
    const char* p = buffer;
    const char* end = buffer + std::char_traits<char>::length(buffer);
    ok = ParseNumber(p, end, line.number) && ParseNumber(p, end, line.x) &&
         ParseNumber(p, end, line.y) && ParseNumber(p, end, line.predecessor) &&
         ParseNumber(p, end, line.image) && ParseNumber(p, end, line.predecessor_image);
    // The seventh field is missing in the program's own exports: flag 0 then. A seventh
    // field that is there but no number makes the line malformed.
    if (ok) {
      p = SkipBlanks(p, end);
      if (p == end) {
        line.flag = 0;
      } else {
        ok = ParseNumber(p, end, line.flag);
      }
    }
  }
  if (!ok) {
    line_ = Line();
    return -1;
  }
  line_ = line;
  return line_.number;
}

void FeatureCorrelatorReadFT2DFile::ReadFeatures(FeatureImage* first, FeatureImage* second) {
  if (second == nullptr) return;
  const char* path = path_.c_str();
  if (first != nullptr) {
    if (first->GetImageIndex() == 0 && second->GetImageIndex() == 1) {
      Notify(
          4,
          "FeatureCorrelatorReadFT2DFile::ReadFeatures: open feature correspondences file \"%s\"\n",
          path);
      CloseFile();
      file_ = std::fopen(path, "rb");
      if (file_ == nullptr) {
        Notify(2,
               "FeatureCorrelatorReadFT2DFile::ReadFeatures: could not open correspondences file "
               "\"%s\" for reading",
               path);
      } else if (ReadLine() != 0) {
        Notify(2,
               "FeatureCorrelatorReadFT2DFile::ReadFeatures: error reading correspondences from "
               "file \"%s\"",
               path);
        CloseFile();
      }
      last_index_ = -1;
    }
    if (last_index_ < first->GetImageIndex()) ReadFeatures(nullptr, first);
  }

  last_index_ = second->GetImageIndex();
  const int32_t cur = last_index_;
  const int32_t prev = first != nullptr ? first->GetImageIndex() : -1;
  uint32_t tracked = 0;
  if (file_ != nullptr && line_.number == 0) {
    do {
      auto feature = SharedPtr<FeaturePoint2D>::Make(second, line_.x, line_.y);
      second->AddFPoint2D(feature);
      if (line_.flag == 1) {
        feature->SetFlags(FP2D_FLAG_QUOTA);
      } else {
        feature->ClearFlags(FP2D_FLAG_QUOTA);
      }
      feature->SetTrackNumber(line_.number);

      if (line_.image != cur ||
          (line_.predecessor >= 0 && prev >= 0 && line_.predecessor_image != prev)) {
        Notify(2,
               "FeatureCorrelatorReadFT2DFile::ReadFeatures: error reading correspondences from "
               "file \"%s\": image indices of feature %d are %d %d (expect %d %d)",
               path, line_.number, line_.image, line_.predecessor_image, cur, prev);
      }

      const uint32_t predecessor = static_cast<uint32_t>(line_.predecessor);
      if (first != nullptr && predecessor < first->GetFPoints2D().size()) {
        const SharedPtr<FeaturePoint2D>& earlier = first->GetFPoints2D()[predecessor];
        auto link = SharedPtr<FeatureCorrespondence>::Make(earlier, feature);
        earlier->SetSuccessor(link);
        feature->SetPredecessor(link);
        correspondences_.push_back(link);
        ++tracked;
      } else {
        feature->SetFlags(FP2D_FLAG_NEW_TRACK);
      }

      if (ReadLine() < 0) {
        CloseFile();
        break;
      }
    } while (line_.number > 0);
  }

  tracked_ = tracked;
  read_ = static_cast<uint32_t>(second->GetFPoints2D().size());
  lost_ = first != nullptr ? static_cast<uint32_t>(first->GetFPoints2D().size()) - tracked : 0;
  Notify(4,
         "FeatureCorrelatorReadFT2DFile::ReadFeatures: image indices %ld to %ld: %u features read "
         "from file \"%s\", %u tracked, %u lost\n",
         static_cast<long>(prev), static_cast<long>(cur), read_, path, tracked_, lost_);
}
