#include "image/jpeg_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "image/jpeg_tables.h"
#include "image/jpeg_test_util.h"

using jpeg_test::Decode;
using jpeg_test::LoadFixture;
using jpeg_test::LoadPnm;

namespace {

// Decodes agree with the peer library's within what the different inverse
// transforms allow. Chroma doubling differs at the picture's edges by design
// (zero chroma beyond the decoded area, where the peer repeats the edge), so
// subsampled pictures are held to the tight bound only a few pixels inside.
struct PeerCase {
  const char* jpeg;
  const char* reference;
  int border;  // pixels from each edge outside the tight bound
};

class PeerComparison : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerComparison, MatchesReferenceDecode) {
  const PeerCase& pc = GetParam();
  int code;
  const jpeg_test::Picture ours = Decode(LoadFixture(pc.jpeg), &code);
  ASSERT_EQ(code, 0);
  const jpeg_test::Picture ref = LoadPnm(pc.reference);
  ASSERT_EQ(ours.width, ref.width);
  ASSERT_EQ(ours.height, ref.height);
  ASSERT_EQ(ours.channels, ref.channels);
  ASSERT_EQ(ours.pixels.size(), ref.pixels.size());
  double sum = 0;
  int count = 0, worst = 0, worst_anywhere = 0;
  for (int y = 0; y < ref.height; ++y) {
    for (int x = 0; x < ref.width; ++x) {
      const bool inside = x >= pc.border && y >= pc.border && x < ref.width - pc.border &&
                          y < ref.height - pc.border;
      for (int c = 0; c < ref.channels; ++c) {
        const size_t i = (size_t(y) * ref.width + x) * ref.channels + c;
        const int d = std::abs(int(ours.pixels[i]) - int(ref.pixels[i]));
        worst_anywhere = std::max(worst_anywhere, d);
        if (!inside) continue;
        sum += d;
        ++count;
        worst = std::max(worst, d);
      }
    }
  }
  // Stated tolerance: mean absolute difference below 0.75, largest 3 levels;
  // at the edges of subsampled chroma at most 40 levels.
  ASSERT_GT(count, 0);
  EXPECT_LT(sum / count, 0.75) << pc.jpeg;
  EXPECT_LE(worst, 3) << pc.jpeg;
  EXPECT_LE(worst_anywhere, 40) << pc.jpeg;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PeerComparison,
                         ::testing::Values(PeerCase{"s420.jpg", "s420.pnm", 4},
                                           PeerCase{"s422.jpg", "s422.pnm", 4},
                                           PeerCase{"s440.jpg", "s440.pnm", 4},
                                           PeerCase{"b444.jpg", "b444.pnm", 0},
                                           PeerCase{"gray.jpg", "gray.pnm", 0},
                                           PeerCase{"s420_17x9.jpg", "s420_17x9.pnm", 4}));

}  // namespace
