// Test helper: grey pictures of shapes with antialiased edges, for the detector tests.
#pragma once

#include <cstdint>
#include <functional>

#include "features/picture.h"

namespace kxtest {

// Renders `inside` (positions with pixel centres on integers) with 8 × 8 samples per
// pixel: low + (high − low) × coverage.
inline void Render(CPicture<unsigned char>& p, uint32_t w, uint32_t h,
                   const std::function<bool(double, double)>& inside, int low, int high) {
  p.Resize(w, h, 1);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      int n = 0;
      for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i)
          n += inside(x - 0.5 + (i + 0.5) / 8, y - 0.5 + (j + 0.5) / 8) ? 1 : 0;
      p.SetElement(static_cast<unsigned char>(low + (high - low) * n / 64.0 + 0.5), x, y, 0);
    }
}

}  // namespace kxtest
