#include "features/feature_correspondence_iterator.h"

#include <gtest/gtest.h>

#include <vector>

#include "features/feature_image.h"

namespace {

using Handle = SharedPtr<FeaturePoint2D>;
using Link = SharedPtr<FeatureCorrespondence>;

// Features 0..4 of `later` linked back to those of `earlier` with these flags; feature 2
// has no link.
struct LinkedPair {
  LinkedPair() {
    const uint32_t flags[] = {FCORR_SUPPORT_TRUE, 0, 0, FCORR_SUPPORT_ROTATION,
                              FCORR_SUPPORT_TRUE | FCORR_SUPPORT_FREEMOVE};
    for (int i = 0; i < 5; ++i) {
      Handle a = Handle::Make(&earlier, 10.0 * i, 0.0);
      Handle b = Handle::Make(&later, 10.0 * i, 1.0);
      earlier.AddFPoint2D(a);
      later.AddFPoint2D(b);
      links.push_back(i == 2 ? Link() : Link::Make(a, b));
      if (!links[i]) continue;
      links[i]->SetFlags(flags[i]);
      a->SetSuccessor(links[i]);
      b->SetPredecessor(links[i]);
    }
  }
  FeatureImage earlier, later;
  std::vector<Link> links;
};

std::vector<Link> Walk(FeatureCorrespondenceIterator it) {
  std::vector<Link> out;
  for (Link l = it.Next(); l; l = it.Next()) out.push_back(l);
  EXPECT_FALSE(it.Next());  // stays at the end
  return out;
}

TEST(FeatureCorrespondenceIteratorTest, FiltersByMaskAndDirection) {
  LinkedPair pair;
  const std::vector<Link>& l = pair.links;
  FeatureImage empty;
  const struct {
    const char* name;
    FeatureImage* image;
    int mask;
    bool direction;
    std::vector<Link> expected;
  } cases[] = {
      {"no image", nullptr, 1, true, {}},
      {"no features", &empty, 1, true, {}},
      {"supported backward links in feature order", &pair.later, 1, true, {l[0], l[4]}},
      {"mask 0 takes flag word 0 only", &pair.later, 0, true, {l[1]}},
      {"rotation support", &pair.later, FCORR_SUPPORT_ROTATION, true, {l[3]}},
      {"any shared bit", &pair.later, 0x21, true, {l[0], l[3], l[4]}},
      {"free-move support", &pair.later, FCORR_SUPPORT_FREEMOVE, true, {l[4]}},
      {"later image has no forward links", &pair.later, 1, false, {}},
      {"forward links", &pair.earlier, 1, false, {l[0], l[4]}},
      {"earlier image has no backward links", &pair.earlier, 0, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Walk(FeatureCorrespondenceIterator(c.image, c.mask, c.direction)), c.expected);
  }
}

TEST(FeatureCorrespondenceIteratorTest, CopiesWalkOnTheirOwn) {
  LinkedPair pair;
  FeatureCorrespondenceIterator it(&pair.later, 0x21, true);
  EXPECT_EQ(it.Next(), pair.links[0]);
  FeatureCorrespondenceIterator copy = it;
  EXPECT_EQ(Walk(it), (std::vector<Link>{pair.links[3], pair.links[4]}));
  EXPECT_EQ(copy.Next(), pair.links[3]);
}

}  // namespace
