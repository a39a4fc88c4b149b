#include "features/feature_image.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <vector>

#include "features/point_file.h"
#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/position_table.h"
#include "foundation/project/project_format.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/split_path.h"

namespace {

void ClearList(FeatureImage::FeatureList& list) {
  for (const SharedPtr<FeaturePoint2D>& f : list) UnlinkFromTrack(f);
  list.clear();
}

bool HasLink(const FeaturePoint2D& f, bool predecessor) {
  return predecessor ? static_cast<bool>(f.GetPredecessor()) : static_cast<bool>(f.GetSuccessor());
}

}  // namespace

FeatureImage::FeatureImage() : FeatureImage(nullptr) {}

FeatureImage::FeatureImage(FeatureImageOwner* owner) : owner_(owner) {
  lum_picture_.Resize(0, 0, 1);
}

FeatureImage::~FeatureImage() {
  ClearFPoints2D();
  ClearAnchors();
  match_camera_.reset();
  lum_picture_.Resize(0, 0, 1);
  cache_entry_.Release();
}

void FeatureImage::SetFileName(const char* name) {
  if (name == nullptr) {
    Notify(2, "FeatureImage::SetFileName: str==NULL !");
    return;
  }
  file_name_ = name;
  Notify(4, "FeatureImage::SetFileName: \"%s\" !", name);
}

FeatureImageOwner* FeatureImage::GetCTrackMgr() const {
  if (owner_ == nullptr) Notify(2, "FeatureImage::GetCTrackMgr: camera tracking manager null");
  return owner_;
}

SharedPtr<ImageCacheEntry> FeatureImage::GetCacheEntry() const {
  FeatureImageOwner* owner = GetCTrackMgr();
  if (owner == nullptr) return SharedPtr<ImageCacheEntry>();
  ImageCache* cache = owner->GetImageCache();
  if (cache == nullptr) return SharedPtr<ImageCacheEntry>();
  return cache->GetImage(image_index_);
}

CPicture<uint8_t>* FeatureImage::GetLumPicture() {
  if (!cache_entry_) {
    // A frame that cannot be allocated is a missing frame for the caller.
    try {
      cache_entry_ = GetCacheEntry();
    } catch (const char* text) {
      Notify(2, "FeatureImage::GetLumPicture: %s", text);
    } catch (const std::exception& e) {
      Notify(2, "FeatureImage::GetLumPicture: %s", e.what());
    } catch (...) {
      Notify(2, "FeatureImage::GetLumPicture: unknown exception");
    }
  }
  if (cache_entry_) {
    lum_picture_.SetView(cache_entry_->luminance);
    return &lum_picture_;
  }
  Notify(2, "FeatureImage::GetLumPicture: can't get image \"%s\"",
         file_name_.empty() ? "not set" : file_name_.c_str());
  lum_picture_.Resize(0, 0, 1);
  return nullptr;
}

void FeatureImage::ReleaseLumPicture() {
  // The view goes first so that it never outlives the pixels it shows.
  lum_picture_.Resize(0, 0, 1);
  cache_entry_.Release();
}

void FeatureImage::InitMatchCamera(const PerspectiveCamera& camera) {
  if (match_camera_) return;
  match_camera_ = std::make_unique<PerspectiveCamera>();
  match_camera_->CopyFrom(camera, false);
}

size_t FeatureImage::AddFPoint2D(const SharedPtr<FeaturePoint2D>& feature) {
  features_.push_back(feature);
  return features_.size();
}

size_t FeatureImage::AddAnchor(const SharedPtr<FeaturePoint2D>& anchor) {
  anchors_.push_back(anchor);
  return anchors_.size();
}

bool FeatureImage::RemoveFPoint2D(const SharedPtr<FeaturePoint2D>& feature) {
  for (FeatureList* list : {&features_, &anchors_}) {
    auto it = std::find(list->begin(), list->end(), feature);
    if (it == list->end()) continue;
    // Hold the feature while it is unlinked and erased: the list may hold its last handle.
    const SharedPtr<FeaturePoint2D> kept = *it;
    UnlinkFromTrack(kept);
    if (kept->GetFPoint3D()) kept->GetFPoint3D()->SetFlags(FP3D_FLAG_REMOVED);
    list->erase(it);
    return true;
  }
  return false;
}

void FeatureImage::ClearFPoints2D() {
  ClearList(features_);
}

void FeatureImage::ClearAnchors() {
  ClearList(anchors_);
}

void FeatureImage::ClearManualOrAutoFPoints2D(bool manual) {
  FeatureList kept;
  kept.reserve(features_.size());
  for (const SharedPtr<FeaturePoint2D>& f : features_) {
    if (f && f->TestFlags(FP2D_FLAG_MANUAL) == manual) {
      UnlinkFromTrack(f);
    } else {
      kept.push_back(f);
    }
  }
  features_.swap(kept);
}

int FeatureImage::CountCorrespondences(bool predecessor) const {
  int n = 0;
  for (const SharedPtr<FeaturePoint2D>& f : features_) {
    if (f && HasLink(*f, predecessor)) ++n;
  }
  return n;
}

bool FeatureImage::HasCorrespondences(bool predecessor, uint32_t n) const {
  uint32_t count = 0;
  for (const SharedPtr<FeaturePoint2D>& f : features_) {
    if (f && HasLink(*f, predecessor)) ++count;
    if (count >= n) return true;
  }
  return false;
}

bool FeatureImage::SaveFPoints(const char* path) const {
  const bool no_path = path == nullptr || path[0] == '\0';
  if (no_path && fpoint_file_name_.empty()) {
    Notify(2, "FeatureImage::SaveFPoints: fpoint_file_name empty !");
    return false;
  }
  FeaturePointIO io(12);
  return io.Save(this, no_path ? fpoint_file_name_.c_str() : path);
}

bool FeatureImage::CheckForField(DataBaseIn& in, const char* key) {
  if (in.IsField(key, PF_KEY_FP2D)) {
    auto feature = SharedPtr<FeaturePoint2D>::Make(this);
    feature->RestoreObject(in);
    if (feature->TestFlags(FP2D_FLAG_ANCHOR)) {
      anchors_.push_back(feature);
    } else {
      features_.push_back(feature);
    }
    return true;
  }
  if (in.IsField(key, PF_KEY_FILENAME)) {
    // As long as the system allows: a cut name would name another file.
    std::vector<char> name(PATH_MAX + 1);
    in.GetString(name.data(), int(name.size()));
    SetFileName(name.data());
    return true;
  }
  if (in.IsField(key, PF_KEY_FILE_INDEX)) {
    file_index_ = in.GetInt();
    return true;
  }
  if (in.IsField(key, PF_KEY_INDEX)) {
    image_index_ = in.GetInt();
    return true;
  }
  if (in.IsField(key, PF_KEY_FLGS)) {
    AssignFlags(static_cast<uint32_t>(in.GetInt()));
    return true;
  }
  return PerspectiveCamera::CheckForField(in, key);
}

void WriteFeatureImage(DataBaseOut& out, const FeatureImage& image, const PositionTable& points3d,
                       const PositionTable* next_features, const PositionTable* next_anchors) {
  out.BeginObject(PF_KEY_FIMAGE);
  std::string directory, name;
  SplitPath(image.GetFileName(), &directory, &name);
  if (!name.empty()) out.WriteString(PF_KEY_FILENAME, name.c_str());
  out.WriteInt(PF_KEY_FILE_INDEX, image.GetFileIndex());
  out.WriteInt(PF_KEY_INDEX, image.GetImageIndex());
  out.WriteInt(PF_KEY_FLGS, static_cast<int32_t>(image.GetFlags()));
  WriteCamera(out, image);
  for (const SharedPtr<FeaturePoint2D>& feature : image.GetFPoints2D()) {
    if (feature) WriteFeaturePoint2D(out, *feature, points3d, next_features);
  }
  for (const SharedPtr<FeaturePoint2D>& anchor : image.GetAnchors()) {
    if (anchor) WriteFeaturePoint2D(out, *anchor, points3d, next_anchors);
  }
  out.EndObject();
}

int32_t FeatureImageFrameIndex(const FeatureImage* image) {
  return image ? image->GetImageIndex() : -1;
}

SharedPtr<FeaturePoint2D> FindTrackPointInImage(const SharedPtr<FeaturePoint2D>& start,
                                                int32_t frame_index) {
  return FindTrackPointInImage(start, frame_index, FeatureImageFrameIndex);
}
