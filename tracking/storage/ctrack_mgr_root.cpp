#include "tracking/storage/ctrack_mgr_root.h"

#include <climits>

#include <algorithm>
#include <vector>

#include "foundation/project/data_base_in.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"
#include "image/image_cache.h"

CTrackMgrRoot::~CTrackMgrRoot() = default;

std::string JoinImagePath(const std::string& path, const char* name) {
  std::string joined = path + "/" + (name ? name : "");
  std::replace(joined.begin(), joined.end(), '\\', '/');
  return joined;
}

void CTrackMgrRoot::Read(DataBaseIn& in) {
  // A failed load must not leave the frame cache in the damaged file's field mode: the
  // next image list would be split into fields it does not have.
  ImageCache* cache = links_.image_cache;
  const bool top_field_first = cache != nullptr && cache->TopFieldFirst();
  const int field_mode = cache != nullptr ? cache->GetFieldMode() : 0;
  try {
    in.Read(*this);
  } catch (const char*) {
    Clear();
    if (cache != nullptr) {
      cache->SetTopFieldFirst(top_field_first);
      cache->SetFieldMode(field_mode);
    }
    throw;
  }
}

void CTrackMgrRoot::Clear() {
  m_frame_start = 0;
  m_frame_end = 0;
  m_frame_step = 1;
  map_kind_ = ProjectMapKind::kNone;
  m_image_path.clear();
  if (links_.map == nullptr) {
    Notify(2, "CameraTrackingManager::Clear: FMap not set !");
    return;
  }
  links_.map->Reset();
  Notify(4, "CameraTrackingManager::Clear: %d images removed from memory!",
         static_cast<int>(m_image_list.size()));
  m_image_list.clear();
  m_vertex_object_pool.Clear();
  m_init_camera.reset();
}

namespace {

// Restores a vertex object into a temporary and appends a copy to the list, so nothing
// of an object that fails to read reaches the pool.
template <class Object>
void RestoreInto(DataBaseIn& in, std::list<Object>& list) {
  Object object;
  object.RestoreObject(in);
  list.push_back(object);
}

}  // namespace

bool CTrackMgrRoot::CheckForField(DataBaseIn& in, const char* key) {
  if (in.IsField(key, PF_KEY_FIMAGE)) {
    auto image = SharedPtr<FeatureImage>::Make(links_.image_owner);
    image->RestoreObject(in);
    m_image_list.push_back(image);
  } else if (in.IsField(key, PF_KEY_FMAP_FREE_MOVE) || in.IsField(key, PF_KEY_FMAP_SPHERE)) {
    if (links_.map == nullptr) return false;
    const bool sphere = in.IsField(key, PF_KEY_FMAP_SPHERE);
    links_.map->RestoreObject(in);
    map_kind_ = sphere ? ProjectMapKind::kPureRotation : ProjectMapKind::kFreeMotion;
  } else if (in.IsField(key, PF_KEY_PMASK)) {
    RestoreInto(in, m_vertex_object_pool.GetPolygonMasks());
  } else if (in.IsField(key, PF_KEY_LINE_STRIP)) {
    RestoreInto(in, m_vertex_object_pool.GetLineStrips());
  } else if (in.IsField(key, PF_KEY_FOCAL_GIZMO)) {
    Notify(5, "Restore::CheckForField: restore FocalGizmo");
    RestoreInto(in, m_vertex_object_pool.GetFocalGizmos());
  } else if (in.IsField(key, PF_KEY_TOP_FIELD_FIRST)) {
    const bool top_first = in.GetInt() != 0;
    // The cache drops its frames itself when the order changes.
    if (links_.image_cache != nullptr) links_.image_cache->SetTopFieldFirst(top_first);
  } else if (in.IsField(key, PF_KEY_DEINT_METHOD)) {
    const int method = in.GetInt();
    if (links_.image_cache != nullptr) links_.image_cache->SetFieldMode(method);
  } else if (in.IsField(key, PF_KEY_FRMS)) {
    const int32_t start = in.GetInt();
    const int32_t end = in.GetInt();
    const int32_t step = in.GetInt();
    if (start >= 0) m_frame_start = start;
    if (end >= 0) m_frame_end = end;
    m_frame_step = step;
  } else if (in.IsField(key, PF_KEY_PATH)) {
    // A folder may be longer than the format's usual text limit: read what the system allows.
    std::vector<char> path(PATH_MAX + 1);
    in.GetString(path.data(), int(path.size()));
    SetImagePath(path.data());
  } else {
    return false;
  }
  return true;
}

void CTrackMgrRoot::PostProcessDataBaseIn() {
  // Entries are never null after a load; a job filled by hand may hold null ones.
  ImageList images;
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (image) images.push_back(image);
  }
  if (images.empty()) {
    Notify(3, "CameraTrackingManager::PostProcessDataBaseIn: empty image list");
    return;
  }
  if (!m_image_path.empty()) {
    for (const SharedPtr<FeatureImage>& image : images) {
      if (image->GetFileName()[0] != '\0') {
        image->SetFileName(JoinImagePath(m_image_path, image->GetFileName()).c_str());
      }
    }
  }
  if (!m_init_camera) m_init_camera = std::make_unique<PerspectiveCamera>();
  m_init_camera->CopyFrom(*images.front(), false);

  if (links_.map != nullptr) {
    const FeatureMap::PointList& points = links_.map->GetFPoint3DList();
    const int32_t count = static_cast<int32_t>(points.size());
    for (const SharedPtr<FeatureImage>& image : images) {
      for (bool anchors : {false, true}) {
        for (const SharedPtr<FeaturePoint2D>& f :
             anchors ? image->GetAnchors() : image->GetFPoints2D()) {
          const int32_t i = f ? f->GetFPoint3DIndex() : -1;
          if (i < 0) continue;
          if (i < count) {
            f->SetFPoint3D(points[i]);
          } else {
            Notify(2,
                   anchors ? "CameraTrackingManager::PostProcessDataBaseIn: bad 3D point index "
                             "%d for 2D anchor, valid range [0, %d]"
                           : "CameraTrackingManager::PostProcessDataBaseIn: bad 3D point index "
                             "%d for 2D feature, valid range [0, %d]",
                   i, count - 1);
          }
        }
      }
    }
  }

  if (images.size() < 2) {
    Notify(3, "CameraTrackingManager::PostProcessDataBaseIn: image list size < 2");
    return;
  }
  m_frame_step = 1;
  if (images.front()->GetImageIndex() >= 0) m_frame_start = images.front()->GetImageIndex();
  if (images.back()->GetImageIndex() >= 0) m_frame_end = images.back()->GetImageIndex();

  for (size_t k = 0; k + 1 < images.size(); ++k) {
    FeatureImage& a = *images[k];
    FeatureImage& b = *images[k + 1];
    for (bool anchors : {false, true}) {
      const FeatureImage::FeatureList& from = anchors ? a.GetAnchors() : a.GetFPoints2D();
      const FeatureImage::FeatureList& to = anchors ? b.GetAnchors() : b.GetFPoints2D();
      for (const SharedPtr<FeaturePoint2D>& f : from) {
        const int32_t n = f ? f->GetSuccessorIndex() : -1;
        if (n < 0 || static_cast<size_t>(n) >= to.size()) continue;
        const SharedPtr<FeaturePoint2D>& later = to[n];
        // A track has one feature per frame: a second claim on the same feature (only in
        // a damaged file) would fork it.
        if (!later || later->GetPredecessor()) continue;
        auto link = SharedPtr<FeatureCorrespondence>::Make(f, later);
        link->SetScore(1.0f);
        const uint32_t stored = f->GetSuccessorFlags();
        link->SetFlags(stored == 0 ? 0 : stored | FCORR_SUPPORT_TRUE);
        f->SetSuccessor(link);
        later->SetPredecessor(link);
      }
    }
  }

  FeatureMap* map = links_.map;
  if (map == nullptr || map->GetFPoint3DList().empty()) return;
  // The frame range holds image indices; the list starts at the first image's index.
  const int64_t offset = images.front()->GetImageIndex() >= 0 ? images.front()->GetImageIndex() : 0;
  ImageList range;
  const int64_t step = m_frame_step > 0 ? m_frame_step : 1;
  for (int64_t i = m_frame_start; i <= m_frame_end; i += step) {
    const int64_t position = i - offset;
    if (position < 0) continue;
    if (position >= static_cast<int64_t>(images.size())) break;
    range.push_back(images[position]);
  }
  map->SetImageList(range);
  if (links_.set_incremental_list) links_.set_incremental_list(range);
  map->GetMSE();
}

CTrackMgrContents CTrackMgrRoot::Contents() const {
  CTrackMgrContents c;
  c.images = &m_image_list;
  if (links_.map != nullptr) {
    c.map_kind = map_kind_;
    c.points = &links_.map->GetFPoint3DList();
  }
  c.frame_start = m_frame_start;
  c.frame_end = m_frame_end;
  c.frame_step = m_frame_step;
  if (links_.image_cache != nullptr) {
    c.top_field_first = links_.image_cache->TopFieldFirst();
    c.deint_method = links_.image_cache->GetFieldMode();
  }
  c.vertex_objects = &m_vertex_object_pool;
  return c;
}
