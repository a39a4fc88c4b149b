// FMapMove::SearchKeyFrame: the key-frame search of the free-motion maps. It checks the
// request and runs the selector's manual search (method 0, the configured pair in
// ascending order) or its automatic search (methods 1 to 5) for the pair (first,
// second). It lives above the selector because the automatic search runs a trial
// reconstruction (point update and sparse bundle adjustment) for each candidate pair.
//
// Result codes as KeyFrameSelect's: 0 accepted, 1 not yet, 2 and 3 no pair from this
// start, 4 invalid request (first or second not inside list, logged at level 2).
// Runs on the tracking thread; nothing throws.
#pragma once

#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "geometry/key_frame_select.h"

class FeatureImage;

namespace FMapMove {

// first, second: list positions; force: choose among the evaluated pairs now (read by
// the automatic methods only).
int SearchKeyFrame(KeyFrameSelect& selector, const std::vector<SharedPtr<FeatureImage>>& list,
                   int first, int second, bool force);

}  // namespace FMapMove
