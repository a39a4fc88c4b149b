#include "foundation/tracks/feature_correspondence.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using Handle = SharedPtr<FeaturePoint2D>;
using Link = SharedPtr<FeatureCorrespondence>;

// Stand-ins for images: the frame index is stored where the image pointer points.
// Only FrameIndex reads through these pointers.
int32_t g_frames[4] = {10, 11, 12, 13};
FeatureImage* Frame(int i) {
  return reinterpret_cast<FeatureImage*>(&g_frames[i]);
}
int32_t FrameIndex(const FeatureImage* image) {
  return *reinterpret_cast<const int32_t*>(image);
}

Link Connect(const Handle& a, const Handle& b, uint32_t flags = FCORR_SUPPORT_TRUE) {
  auto link = Link::Make(a, b);
  link->SetFlags(flags);
  a->SetSuccessor(link);
  b->SetPredecessor(link);
  return link;
}

// A track P -> Q -> R in frames 10, 11, 12.
struct Track {
  Track() {
    for (int i = 0; i < 3; ++i) f[i] = Handle::Make(Frame(i), 10.0 * i, 1.0);
    Connect(f[0], f[1]);
    Connect(f[1], f[2]);
  }
  ~Track() {
    for (const Handle& h : f) UnlinkFromTrack(h);
  }
  Handle f[3];
};

TEST(FeatureTrackTest, EndsOfATrack) {
  Track t;
  const Handle& p = t.f[0];
  const Handle& r = t.f[2];
  EXPECT_EQ(GetFirstFPoint2DOfTrack(r), p);
  EXPECT_EQ(GetLastFPoint2DOfTrack(p), r);
  EXPECT_EQ(GetFirstFPoint2DOfTrack(p), p);
  EXPECT_EQ(FindTrackEnd(t.f[1].Get(), true), p.Get());
  EXPECT_EQ(FindTrackEnd(t.f[1].Get(), false), r.Get());
  EXPECT_EQ(FindTrackEnd(r.Get(), false), r.Get());
  EXPECT_FALSE(GetFirstFPoint2DOfTrack(Handle()));
}

TEST(FeatureTrackTest, WalkStopsBeforeALinkThatDoesNotMatch) {
  Track t;
  t.f[1]->GetSuccessor()->SetFlags(0);
  EXPECT_EQ(WalkTrack(t.f[0], FCORR_SUPPORT_TRUE, false, false), t.f[1]);
  EXPECT_EQ(WalkTrack(t.f[0], FCORR_SUPPORT_TRUE, true, false), t.f[2]);
  EXPECT_EQ(WalkTrack(t.f[0], 0, false, false), t.f[0]);  // mask 0 needs flags 0
  EXPECT_EQ(WalkTrack(t.f[1], 0, false, false), t.f[2]);
  EXPECT_EQ(WalkTrack(t.f[2], FCORR_SUPPORT_TRUE, false, true), t.f[2]);
}

TEST(FeatureTrackTest, FindTrackPointInImage) {
  Track t;
  const struct {
    int start;
    int32_t frame;
    int expected;  // -1: empty
  } cases[] = {
      {0, 12, 2}, {2, 10, 0},  {1, 11, -1},               // the start is never the answer
      {1, 10, 0}, {0, 13, -1}, {2, 9, -1},  {0, -1, -1},  // -1 is large unsigned: forward
  };
  for (const auto& c : cases) {
    Handle found = FindTrackPointInImage(t.f[c.start], c.frame, FrameIndex);
    if (c.expected < 0) {
      EXPECT_FALSE(found) << c.start << " " << c.frame;
    } else {
      EXPECT_EQ(found, t.f[c.expected]) << c.start << " " << c.frame;
    }
  }
  auto orphan = Handle::Make(nullptr);
  EXPECT_FALSE(FindTrackPointInImage(orphan, 10, FrameIndex));
}

TEST(FeatureTrackTest, UnlinkingTheMiddleFreesBothLinks) {
  Track t;
  Link a = t.f[0]->GetSuccessor();
  Link b = t.f[1]->GetSuccessor();
  EXPECT_TRUE(UnlinkFromTrack(t.f[1]));
  for (const Handle& h : t.f) {
    EXPECT_FALSE(h->GetPredecessor());
    EXPECT_FALSE(h->GetSuccessor());
  }
  EXPECT_EQ(a.RefCount(), 1);  // only our handles keep the links
  EXPECT_EQ(b.RefCount(), 1);
  a.Release();
  b.Release();
  for (const Handle& h : t.f) EXPECT_EQ(h.RefCount(), 1);
  EXPECT_FALSE(UnlinkFromTrack(Handle()));
}

TEST(FeatureTrackTest, TestCorrespondenceFlags) {
  Track t;
  t.f[0]->GetSuccessor()->SetFlags(0);
  t.f[1]->GetSuccessor()->SetFlags(FCORR_SUPPORT_FREEMOVE);
  EXPECT_TRUE(t.f[0]->TestCorrespondenceFlags(0));
  EXPECT_FALSE(t.f[0]->TestCorrespondenceFlags(FCORR_SUPPORT_TRUE));
  EXPECT_TRUE(t.f[1]->TestCorrespondenceFlags(0x41));  // successor matches
  EXPECT_TRUE(t.f[1]->TestCorrespondenceFlags(0));     // predecessor matches
  EXPECT_FALSE(t.f[2]->TestCorrespondenceFlags(FCORR_SUPPORT_TRUE));
  auto lone = Handle::Make(nullptr);
  EXPECT_FALSE(lone->TestCorrespondenceFlags(0));
}

TEST(FeatureCorrespondenceTest, TextLineAndDefaults) {
  FeatureCorrespondence empty;
  EXPECT_EQ(empty.GetFlags(), FCORR_SUPPORT_TRUE);
  EXPECT_EQ(empty.GetScore(), 0.0f);
  std::ostringstream none;
  none << empty;
  EXPECT_EQ(none.str(), "");

  FeatureCorrespondence link(Handle::Make(nullptr, 1.5, 2.0), Handle::Make(nullptr, 3.0, -4.25));
  link.SetScore(0.75f);
  std::ostringstream line;
  line << link;
  EXPECT_EQ(line.str(), "1.5\t2\t3\t-4.25\t0.75");
}

}  // namespace
