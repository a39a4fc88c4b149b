#include "optimise/search_key_frame.h"

#include <algorithm>

#include "foundation/runtime/notify.h"
#include "optimise/auto_key_frame.h"

namespace FMapMove {

int SearchKeyFrame(KeyFrameSelect& selector, const std::vector<SharedPtr<FeatureImage>>& list,
                   int first, int second, bool force) {
  const long n = long(list.size());
  if (first < 0 || second < 0 || first >= n || second >= n) {
    Notify(2,
           "FMapMove::SearchKeyFrame: ERROR first_keyframe or second_keyframe >= "
           "m_fimage_list.size()");
    return 4;
  }
  const KeyFrameSelect::Parameter& p = selector.GetParameter();
  Notify(5, "FMapMove::SearchKeyFrame: method %ld", long(p.m_method));
  if (p.m_method == KeyFrameSelect::eManual) {
    const int a = std::min(p.m_first_keyframe, p.m_second_keyframe);
    const int b = std::max(p.m_first_keyframe, p.m_second_keyframe);
    return selector.ManualKeyFrame(list, a, b);
  }
  return AutoKeyFrame::Run(selector, list, first, second, force);
}

}  // namespace FMapMove
