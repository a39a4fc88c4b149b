#include "tracking/job/camera_tracking_manager.h"

#include <cstring>
#include <iterator>

#include "features/feature_correlator_syn.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/random_generator.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "tracking/maps/feature_map_move.h"

namespace {

// The null handle the image accessors return for a bad position.
const SharedPtr<FeatureImage>& NullImage() {
  static const SharedPtr<FeatureImage> null_handle;
  return null_handle;
}

// Calls visit(feature) for every non-null 2D feature of every non-null image.
template <class Visit>
void ForEachFeature(const CTrackMgrRoot::ImageList& images, Visit&& visit) {
  for (const SharedPtr<FeatureImage>& image : images) {
    if (!image) continue;
    for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D()) {
      if (f) visit(f);
    }
  }
}

bool HasValidPoint(const FeaturePoint2D& f) {
  const SharedPtr<FeaturePoint3D>& point = f.GetFPoint3D();
  return point && !point->TestFlags(FP3D_FLAG_REMOVED);
}

// The later feature of f's forward link, or null.
SharedPtr<FeaturePoint2D> Next(const FeaturePoint2D& f) {
  const SharedPtr<FeatureCorrespondence>& link = f.GetSuccessor();
  return link ? link->GetSecond() : SharedPtr<FeaturePoint2D>();
}

// The handle of a feature given by address: through its links, else from its image.
SharedPtr<FeaturePoint2D> HandleOf(FeaturePoint2D* f) {
  if (const auto& link = f->GetSuccessor(); link && link->GetFirst().Get() == f) {
    return link->GetFirst();
  }
  if (const auto& link = f->GetPredecessor(); link && link->GetSecond().Get() == f) {
    return link->GetSecond();
  }
  if (FeatureImage* image = f->GetImage()) {
    for (const auto* list : {&image->GetFPoints2D(), &image->GetAnchors()}) {
      for (const SharedPtr<FeaturePoint2D>& g : *list) {
        if (g.Get() == f) return g;
      }
    }
  }
  return nullptr;
}

}  // namespace

CameraTrackingManager::CameraTrackingManager() {
  Links links;
  links.map = m_fmap_move.Get();
  links.image_cache = &m_image_cache;
  links.image_owner = this;
  FeatureMapMove* move = GetFreeMotionMap();
  links.set_incremental_list = [move](const ImageList& images) {
    if (move) move->SetIncrementalList(images);
  };
  SetLinks(links);
  m_image_cache.SetFieldMode(0);
  m_image_cache.SetCapacity(100);
  SetTrackingMaskLookup(&CameraTrackingManager::FindMasks);
  if (m_fmap) m_fmap->SetManager(this);
}

CameraTrackingManager::~CameraTrackingManager() {
  ClearAllFPointsAndResetFMap(kClearAllTrackingData);
  Clear();
  // Without a current map Clear keeps the images; they hold frames of the cache, which
  // goes before the bases.
  m_image_list.clear();
  for (const SharedPtr<FeatureMap>* map : {&m_fmap, &m_fmap_move, &m_fmap_move_live}) {
    if (*map) (*map)->Reset();
  }
}

// ---- frame processing ---------------------------------------------------------------

bool CameraTrackingManager::Compute(unsigned index, int stepMask) {
  const size_t n = m_image_list.size();
  // -1 is refused by name: a position is never found through an unsigned wrap.
  if (index == static_cast<unsigned>(-1) || index >= n) {
    Notify(2,
           "CameraTrackingManager::Compute: bad index, index (%u) >= frame sequence length (%u) !",
           index, static_cast<unsigned>(n));
    throw "bad index";
  }
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if (!map) {
    Notify(2, "CameraTrackingManager::Compute: FMap not set !");
    throw "FMap not set";
  }
  if (n < 2) {
    Notify(4, "CameraTrackingManager::Compute: no. of images %d < 2 ", static_cast<int>(n));
    throw "no. of images < 2";
  }
  if (m_force_init) {
    Notify(4, "CameraTrackingManager::Compute: frame %ld, switch to init state, force init",
           static_cast<long>(index));
    m_force_init = false;
    SwitchToInitialState(m_force_init_reason != 0 ? m_force_init_reason : 1);
  }
  Notify(5, "CameraTrackingManager::Compute: index: %d, tracking steps mask=%d, step mode %s",
         static_cast<int>(index), stepMask, "true");
  const unsigned position = m_reverse ? static_cast<unsigned>(n - 1 - index) : index;
  // By list position: the image index differs from it once images were recycled.
  SharedPtr<FeatureImage> image = GetFImage(position);
  if (!image) return true;
  Notify(4, "CameraTrackingManager::Compute: \"%s\", index: %d (file index %d)",
         image->GetFileName(), static_cast<int>(index), image->GetFileIndex());
  if (!m_init_camera) {
    Notify(2,
           "CameraTrackingManager::Compute: init. camera not set, call ReadInitCamera() start !");
    throw "init camera not set";
  }
  if (map->GetFImageList().empty() || !map->IsInitialised()) {
    if (!map->Init(image)) throw "FMap init failed";
    return true;
  }
  if (stepMask & (kStepMatchAuto | kStepMatchTagged)) {
    Notify(5, "CameraTrackingManager::Compute: correspondences");
    if (!MatchFrame(*map, image)) {
      Notify(2, "CameraTrackingManager::Compute: correspondences analysis failed for \"%s\" !",
             image->GetFileName());
      throw "correspondences analysis failed";
    }
  } else {
    map->AppendImage(image);
  }
  // The working correlator's last ratio, also when this frame was not correlated.
  if (const SharedPtr<FeatureCorrelator>& correlator = map->GetCorrelator()) {
    const double lost = correlator->GetLostRatio();
    if (lost > 0.9) {
      Notify(4,
             "CameraTrackingManager::Compute: frame %ld, switch to init state, tracked %ld, lost "
             "%ld, lost features %f %%",
             static_cast<long>(index), static_cast<long>(correlator->GetCorrespondenceCount()),
             static_cast<long>(correlator->GetLostCount()), lost);
      SwitchToInitialState(3);
      return true;
    }
  }
  if (stepMask & kStepOutliers) {
    Notify(5, "CameraTrackingManager::Compute: outlier elimination");
    if (!map->OutlierElimination()) {
      Notify(2, "CameraTrackingManager::Compute: outlier estimation failed for \"%s\" !",
             image->GetFileName());
      SwitchToInitialState(4);
    }
  }
  if (stepMask & kStepCamera) {
    Notify(5, "CameraTrackingManager::Compute: camera estimation");
    if (!map->CameraEstimation()) {
      Notify(2, "CameraTrackingManager::Compute: camera estimation failed for \"%s\" !",
             image->GetFileName());
      SwitchToInitialState(5);
    }
  }
  return true;
}

void CameraTrackingManager::SwitchToInitialState(int reason) {
  SharedPtr<FeatureMap> map = GetFeatureMap();
  // The live map first: it is a free-motion map too.
  if (IsLiveMap(map.Get())) {
    const FeatureMap::ImageList& frames = map->GetFImageList();
    const int k = frames.empty() || !frames.back()
                      ? 0
                      : frames.back()->GetImageIndex() - m_first_image_index + 1;
    ClearAllFPointsAndResetFMap(kClearAllTrackingData);
    map->ClearInitialised();
    if (reason == 1 || reason == 2) map->Reset();
    // The next frame starts from the camera the live run reached.
    const size_t n = m_image_list.size();
    if (k >= 0 && static_cast<size_t>(k) + 1 < n && m_image_list[k] && m_image_list[k + 1]) {
      m_image_list[k + 1]->CopyFrom(*m_image_list[k], false);
    }
    if (m_correlator) m_correlator->Reset();
  } else {
    if (m_correlator) m_correlator->Reset();
    if (map) map->ClearInitialised();
    // The free-motion map restarts even when it is not the current map.
    if (FeatureMapMove* move = GetFreeMotionMap()) move->RestartIncremental();
  }
  Notify(5, "CameraTrackingManager::SwitchToInitialState: done.");
}

bool CameraTrackingManager::ComputeFinalCameraEstimation() {
  Notify(5, "CameraTrackingManager::ComputeFinalCameraEstimation:");
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if (!map) {
    Notify(2, "CameraTrackingManager::ComputeFinalCameraEstimation: FMap not set !");
    return false;
  }
  try {
    return map->FinalEstimation();
  } catch (const char* text) {
    Notify(2, "CameraTrackingManager::ComputeFinalCameraEstimation: failed with message \"%s\"",
           text);
    return false;
  }
}

// ---- image access -------------------------------------------------------------------

const SharedPtr<FeatureImage>& CameraTrackingManager::GetFImage(unsigned position) {
  if (position >= m_image_list.size()) {
    Notify(2, "CameraTrackingManager::GetFImage: (%ld) bad index: %d [0, %ld]!",
           static_cast<long>(reinterpret_cast<intptr_t>(this)), static_cast<int>(position),
           static_cast<long>(m_image_list.size()));
    return NullImage();
  }
  return m_image_list[position];
}

const SharedPtr<FeatureImage>& CameraTrackingManager::GetFeatureImageFromImageIndex(
    int imageIndex) {
  const int64_t position = int64_t(imageIndex) - m_first_image_index;
  if (position < 0 || position >= static_cast<int64_t>(m_image_list.size())) {
    Notify(2, "CameraTrackingManager::GetFeatureImageFromImageIndex: bad index: %d (offset %d)",
           imageIndex, m_first_image_index);
    return NullImage();
  }
  return m_image_list[position];
}

// ---- bulk edits and queries ---------------------------------------------------------

void CameraTrackingManager::ClearAllFPointsAndResetFMap(int flags) {
  Notify(5, "CameraTrackingManager::ClearAllFPointsAndResetFMap:");
  if (flags & kClearPoints3D) {
    Notify(5, "CameraTrackingManager::ClearAllFPointsAndResetFMap: clear 3D points");
    ForEachFeature(m_image_list, [](const SharedPtr<FeaturePoint2D>& f) {
      if (f->GetFPoint3D()) f->SetFPoint3D(nullptr);
    });
  }
  if (flags & kClearLinkFlags) {
    Notify(5,
           "CameraTrackingManager::ClearAllFPointsAndResetFMap: disable feature correspondence "
           "support");
    ForEachFeature(m_image_list, [](const SharedPtr<FeaturePoint2D>& f) {
      if (f->GetPredecessor()) f->GetPredecessor()->SetFlags(0);
      if (f->GetSuccessor()) f->GetSuccessor()->SetFlags(0);
    });
  }
  for (const bool manual : {false, true}) {
    if (!(flags & (manual ? kClearManualLinks : kClearAutoLinks))) continue;
    Notify(5, manual ? "CameraTrackingManager::ClearAllFPointsAndResetFMap: clear all manual "
                       "correspondences"
                     : "CameraTrackingManager::ClearAllFPointsAndResetFMap: clear all auto "
                       "correspondences");
    ForEachFeature(m_image_list, [manual](const SharedPtr<FeaturePoint2D>& f) {
      if (f->TestFlags(FP2D_FLAG_MANUAL) != manual) return;
      if (f->GetPredecessor()) f->SetPredecessor(nullptr);
      if (f->GetSuccessor()) f->SetSuccessor(nullptr);
    });
  }
  for (const bool manual : {false, true}) {
    if (!(flags & (manual ? kClearManualFeatures : kClearAutoFeatures))) continue;
    Notify(5, manual
                  ? "CameraTrackingManager::ClearAllFPointsAndResetFMap: clear manual 2D feature "
                    "points"
                  : "CameraTrackingManager::ClearAllFPointsAndResetFMap: clear auto 2D feature "
                    "points");
    for (const SharedPtr<FeatureImage>& image : m_image_list) {
      if (image) image->ClearManualOrAutoFPoints2D(manual);
    }
  }
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if (map && (flags & (kClearResetMap | kClearPoints3D))) map->Reset();
  if (map) {
    if (auto* syn = dynamic_cast<FeatureCorrelatorSyn*>(map->GetCorrelatorTemplate().Get())) {
      syn->UnlinkCorrespondences();
      syn->Init3DScene();
    }
  }
  // The scene numbering starts again: the clones are not needed any more.
  ReleaseSynClones();
  // A run after a reset draws the same samples as a first run.
  ReseedSamplingGenerator();
}

bool CameraTrackingManager::MatchFrame(FeatureMap& map, SharedPtr<FeatureImage>& image) {
  SharedPtr<FeatureCorrelator> templ = map.GetCorrelatorTemplate();
  auto* syn = dynamic_cast<FeatureCorrelatorSyn*>(templ.Get());
  if (syn == nullptr) return map.Match(image);
  SharedPtr<FeatureCorrelator> clone = syn->Clone();
  m_syn_clones.push_back(clone);
  map.SetCorrelatorTemplate(clone);
  bool ok = false;
  try {
    ok = map.Match(image);
  } catch (...) {
    map.SetCorrelatorTemplate(templ);
    throw;
  }
  map.SetCorrelatorTemplate(templ);
  return ok;
}

void CameraTrackingManager::ReleaseSynClones() {
  // Emptying a clone's list first keeps its destructor off links that live on in the
  // features (or were re-made since).
  for (const SharedPtr<FeatureCorrelator>& clone : m_syn_clones) {
    if (clone) clone->Reset();
  }
  m_syn_clones.clear();
}

int CameraTrackingManager::SetFPoint2DBitMask(int type, int mask, bool set) {
  int count = 0;
  ForEachFeature(m_image_list, [&](const SharedPtr<FeaturePoint2D>& f) {
    bool chosen = false;
    switch (type) {
      case 0:
        chosen = f->TestFlags(static_cast<uint32_t>(mask));
        break;
      case 1:
        chosen = !f->GetPredecessor();
        break;
      case 2:
        chosen = !f->GetSuccessor();
        break;
      default:
        Notify(2, "CameraTrackingManager::SetFPoint2DBitMask: unkown 2D feature type %ld",
               static_cast<long>(type));
        return;
    }
    if (!chosen) return;
    if (set) {
      f->SetFlags(static_cast<uint32_t>(mask));
    } else {
      f->ClearFlags(static_cast<uint32_t>(mask));
    }
    ++count;
  });
  return count;
}

bool CameraTrackingManager::HasCameraTrackingResult() {
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (!image || image->TestFlags(FIMAGE_FLAG_NOT_ESTIMATED)) continue;
    for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D()) {
      if (f && HasValidPoint(*f)) return true;
    }
  }
  return false;
}

bool CameraTrackingManager::HasManualFPoints() {
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (!image) continue;
    for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D()) {
      if (f && f->TestFlags(FP2D_FLAG_MANUAL)) return true;
    }
  }
  return false;
}

bool CameraTrackingManager::HasFPoints2D() {
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (image && !image->GetFPoints2D().empty()) return true;
  }
  return false;
}

int CameraTrackingManager::GetFeatureTrackLengthStats(FeatureTrackLengthStats* out, int mode) {
  if (out == nullptr) return 0;
  *out = FeatureTrackLengthStats();
  if (mode != eAll2DFeatures && mode != eWith3DPoints) return 0;
  // A track holds at most one feature per frame; the bound only guards against a
  // damaged chain that runs in a circle.
  const size_t max_steps = m_image_list.size();
  ForEachFeature(m_image_list, [&](const SharedPtr<FeaturePoint2D>& first) {
    if (first->GetPredecessor()) return;
    if (mode == eWith3DPoints && !HasValidPoint(*first)) return;
    SharedPtr<FeaturePoint2D> last = first;
    for (size_t steps = 0; steps < max_steps; ++steps) {
      SharedPtr<FeaturePoint2D> next = Next(*last);
      if (!next) break;
      last = next;
    }
    if (last == first) return;
    const double span = double(FeatureImageFrameIndex(last->GetImage())) -
                        double(FeatureImageFrameIndex(first->GetImage()));
    if (out->count == 0) {
      out->min = out->max = span;
    } else if (span < out->min) {
      out->min = span;
    } else if (span > out->max) {
      out->max = span;
    }
    out->sum += span;
    out->sum_of_squares += span * span;
    ++out->count;
  });
  return static_cast<int>(out->count);
}

std::vector<SharedPtr<FeaturePoint2D>> CameraTrackingManager::CollectFeatureTrackSegment(
    const FeatureTrackSegment& segment) const {
  std::vector<SharedPtr<FeaturePoint2D>> features;
  if (segment.first == nullptr || segment.last == nullptr) return features;
  SharedPtr<FeaturePoint2D> current = HandleOf(segment.first);
  for (size_t steps = 0; current && steps <= m_image_list.size(); ++steps) {
    features.push_back(current);
    if (current.Get() == segment.last) break;
    current = Next(*current);
  }
  return features;
}

void CameraTrackingManager::RemoveFeatureTrack(const FeatureTrackSegment& segment) {
  // Collected before anything is removed: removing a feature unlinks it.
  const std::vector<SharedPtr<FeaturePoint2D>> features = CollectFeatureTrackSegment(segment);
  for (const SharedPtr<FeaturePoint2D>& f : features) {
    FeatureImage* image = f->GetImage();
    if (image == nullptr) {
      Notify(2, "CameraTrackingManager::RemoveFeatureTrack: can't get feature image");
      continue;
    }
    Notify(10, "CameraTrackingManager::RemoveFeatureTrack: image: %ld, x,y: %g,%g",
           static_cast<long>(image->GetImageIndex()), f->x, f->y);
    image->RemoveFPoint2D(f);
  }
}

void CameraTrackingManager::RemoveFeatureTracks(const std::vector<FeatureTrackSegment>& segments) {
  for (const FeatureTrackSegment& segment : segments) RemoveFeatureTrack(segment);
}

void CameraTrackingManager::TransformScene(const double m[16]) {
  Matrix4x4 transform;
  std::memcpy(transform.m, m, sizeof transform.m);
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (image) image->Transform(transform);
  }
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if (!map) return;
  // Values only, between runs: the point list itself does not change.
  for (const SharedPtr<FeaturePoint3D>& point : map->GetFPoint3DList()) {
    if (!point) continue;
    const double in[4] = {point->x, point->y, point->z, 1.0};
    double out[4];
    for (int r = 0; r < 4; ++r) {
      out[r] =
          m[4 * r] * in[0] + m[4 * r + 1] * in[1] + m[4 * r + 2] * in[2] + m[4 * r + 3] * in[3];
    }
    if (out[3] == 0.0) {
      point->x = point->y = point->z = 0.0;
    } else {
      point->x = out[0] / out[3];
      point->y = out[1] / out[3];
      point->z = out[2] / out[3];
    }
  }
}

int CameraTrackingManager::FindMaskKeyFrame(unsigned position, const char* maskName,
                                            bool backward) {
  const int64_t n = static_cast<int64_t>(m_image_list.size());
  if (position >= n) return -1;
  const int step = backward ? -1 : 1;
  for (int64_t i = int64_t(position) + step; i >= 0 && i < n; i += step) {
    for (const PolygonMask& mask : m_vertex_object_pool.GetPolygonMasks()) {
      if (maskName != nullptr && !mask.GetName().empty() && mask.GetName() != maskName) continue;
      // Keys are stored at absolute frames.
      for (const Vertex& vertex : mask.GetVertices()) {
        if (vertex.GetValue(nullptr, static_cast<int>(i)) == Vertex::kExactKey) {
          return static_cast<int>(i);
        }
      }
    }
  }
  return -1;
}

// ---- restore and clear --------------------------------------------------------------

void CameraTrackingManager::Clear() {
  m_sequence_template.clear();
  m_sequence_text2.clear();
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if (!map) {
    SetFrameRange(0, 0, 1);
    Notify(2, "CameraTrackingManager::Clear: FMap not set !");
    return;
  }
  // The restore target is the free-motion map; a current map of another kind is
  // emptied as well.
  if (map.Get() != GetLinks().map) map->Reset();
  CTrackMgrRoot::Clear();
}

void CameraTrackingManager::PostProcessDataBaseIn() {
  // Before the map measures the restored frames: the pure-rotation stages measure
  // differently.
  if (FeatureMapMove* move = GetFreeMotionMap()) {
    if (GetMapKind() == ProjectMapKind::kPureRotation) move->m_free_move = 0;
    if (GetMapKind() == ProjectMapKind::kFreeMotion) move->m_free_move = 1;
  }
  CTrackMgrRoot::PostProcessDataBaseIn();
}

CTrackMgrContents CameraTrackingManager::Contents() const {
  CTrackMgrContents c = CTrackMgrRoot::Contents();
  c.map_kind = ProjectMapKind::kNone;
  c.points = nullptr;
  // The pool keeps the map alive as long as the manager.
  const SharedPtr<FeatureMap> map = GetFeatureMap();
  if (!map) return c;
  const auto* move = dynamic_cast<const FeatureMapMove*>(map.Get());
  c.map_kind = move != nullptr && move->m_free_move != 0 ? ProjectMapKind::kFreeMotion
                                                         : ProjectMapKind::kPureRotation;
  c.points = &map->GetFPoint3DList();
  return c;
}

void CameraTrackingManager::ReadCTrackMgr(DataBaseIn& in) {
  Read(in);
  if (RestoreImageList() != 0) throw "unable to load image(s)";
}

// ---- polygon masks for the correlators ----------------------------------------------

const TrackingMaskList* CameraTrackingManager::FindMasks(const FeatureImageOwner* owner) {
  const auto* manager = dynamic_cast<const CameraTrackingManager*>(owner);
  return manager ? &manager->m_mask_list : nullptr;
}

const PolygonMask* CameraTrackingManager::MaskList::Mask(int mask) const {
  const std::list<PolygonMask>& masks = pool_.GetPolygonMasks();
  if (mask < 0 || static_cast<size_t>(mask) >= masks.size()) return nullptr;
  return &*std::next(masks.begin(), mask);
}

int CameraTrackingManager::MaskList::GetMaskCount() const {
  return static_cast<int>(pool_.GetPolygonMasks().size());
}

int CameraTrackingManager::MaskList::GetMaskProperty(int mask) const {
  const PolygonMask* m = Mask(mask);
  return m ? m->GetMProp() : kExclude;
}

bool CameraTrackingManager::MaskList::IsMaskActiveAt(int mask, int32_t frame) const {
  const PolygonMask* m = Mask(mask);
  return m && m->IsActiveAt(static_cast<unsigned>(frame)) > 0;
}

bool CameraTrackingManager::MaskList::IsInsideMask(int mask, double x, double y,
                                                   int32_t frame) const {
  const PolygonMask* m = Mask(mask);
  return m && m->IsInside(x, y, frame);
}

void CameraTrackingManager::MaskList::GetMaskPolygon(
    int mask, int32_t frame, std::vector<std::pair<double, double>>* vertices) const {
  if (vertices == nullptr) return;
  vertices->clear();
  const PolygonMask* m = Mask(mask);
  if (m == nullptr) return;
  std::vector<vm::Vector3> positions;
  m->GetVertexPositions(positions, static_cast<unsigned>(frame));
  for (const vm::Vector3& p : positions) vertices->emplace_back(p.x, p.y);
}
