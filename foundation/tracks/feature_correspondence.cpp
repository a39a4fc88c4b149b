#include "foundation/tracks/feature_correspondence.h"

#include <ostream>

FeatureCorrespondence::FeatureCorrespondence(const SharedPtr<FeaturePoint2D>& first,
                                             const SharedPtr<FeaturePoint2D>& second)
    : first_(first), second_(second) {}

FeatureCorrespondence::~FeatureCorrespondence() {
  second_.Release();
  first_.Release();
}

std::ostream& operator<<(std::ostream& out, const FeatureCorrespondence& link) {
  const FeaturePoint2D* a = link.GetFirst().Get();
  const FeaturePoint2D* b = link.GetSecond().Get();
  if (a == nullptr || b == nullptr) return out;
  return out << a->x << '\t' << a->y << '\t' << b->x << '\t' << b->y << '\t' << link.GetScore();
}

namespace {

// The link to follow from f in the walk's direction, and its far end.
const SharedPtr<FeatureCorrespondence>& LinkOf(const FeaturePoint2D& f, bool backward) {
  return backward ? f.GetPredecessor() : f.GetSuccessor();
}
const SharedPtr<FeaturePoint2D>& FarEnd(const FeatureCorrespondence& link, bool backward) {
  return backward ? link.GetFirst() : link.GetSecond();
}

}  // namespace

FeaturePoint2D* FindTrackEnd(FeaturePoint2D* feature, bool backward) {
  const FeaturePoint2D* const start = feature;
  for (;;) {
    const SharedPtr<FeatureCorrespondence>& link = LinkOf(*feature, backward);
    if (!link) return feature;
    FeaturePoint2D* next = FarEnd(*link, backward).Get();
    if (next == nullptr || next == start) return feature;  // the end, or a closed loop
    feature = next;
  }
}

SharedPtr<FeaturePoint2D> WalkTrack(const SharedPtr<FeaturePoint2D>& start, uint32_t mask,
                                    bool ignore_mask, bool backward) {
  SharedPtr<FeaturePoint2D> f = start;
  while (f) {
    const SharedPtr<FeatureCorrespondence>& link = LinkOf(*f, backward);
    if (!link) break;
    if (!ignore_mask && !CorrespondenceFlagsMatch(link->GetFlags(), mask)) break;
    const SharedPtr<FeaturePoint2D>& next = FarEnd(*link, backward);
    if (!next || next == start) break;  // the end, or a closed loop of links
    f = next;
  }
  return f;
}

SharedPtr<FeaturePoint2D> GetFirstFPoint2DOfTrack(const SharedPtr<FeaturePoint2D>& feature) {
  return WalkTrack(feature, 0, true, true);
}

SharedPtr<FeaturePoint2D> GetLastFPoint2DOfTrack(const SharedPtr<FeaturePoint2D>& feature) {
  return WalkTrack(feature, 0, true, false);
}

SharedPtr<FeaturePoint2D> FindTrackPointInImage(const SharedPtr<FeaturePoint2D>& start,
                                                int32_t frame_index, FrameIndexOf index_of) {
  if (!start || start->GetImage() == nullptr) return SharedPtr<FeaturePoint2D>();
  const bool backward =
      static_cast<uint32_t>(frame_index) < static_cast<uint32_t>(index_of(start->GetImage()));
  const FeaturePoint2D* f = start.Get();
  for (;;) {
    const SharedPtr<FeatureCorrespondence>& link = LinkOf(*f, backward);
    if (!link) break;
    const SharedPtr<FeaturePoint2D>& next = FarEnd(*link, backward);
    if (!next || next.Get() == start.Get()) break;
    if (next->GetImage() != nullptr && index_of(next->GetImage()) == frame_index) return next;
    f = next.Get();
  }
  return SharedPtr<FeaturePoint2D>();
}

bool UnlinkFromTrack(const SharedPtr<FeaturePoint2D>& feature) {
  if (!feature) return false;
  // Held for the duration: the links may hold the last references to the feature.
  SharedPtr<FeaturePoint2D> keep = feature;
  if (SharedPtr<FeatureCorrespondence> p = keep->GetPredecessor()) {
    if (p->GetFirst()) p->GetFirst()->SetSuccessor(nullptr);
    keep->SetPredecessor(nullptr);
  }
  if (SharedPtr<FeatureCorrespondence> s = keep->GetSuccessor()) {
    if (s->GetSecond()) s->GetSecond()->SetPredecessor(nullptr);
    keep->SetSuccessor(nullptr);
  }
  return true;
}
