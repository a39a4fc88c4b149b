// A free-motion map (or its live variant) whose key-frame search is scripted and recorded:
// each search appends "search <first> <second>[ forced]" to calls and answers with
// answer(first, second); an answer of 0 accepts that pair. Positions are list positions.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "geometry/key_frame_select.h"

namespace kxtest {

template <class Map>
class KeyFrameSearchRecorder : public Map {
 public:
  std::function<int(int, int)> answer = [](int, int) { return 1; };
  std::vector<std::string> calls;

  // The list position of image in the map's frame list, -1 when absent.
  int Position(const FeatureImage* image) const {
    for (size_t i = 0; i < this->m_fimage_list.size(); ++i) {
      if (this->m_fimage_list[i].Get() == image) return int(i);
    }
    return -1;
  }

 protected:
  int SearchKeyFramePair(int first, int second, bool force) override {
    calls.push_back("search " + std::to_string(first) + " " + std::to_string(second) +
                    (force ? " forced" : ""));
    const int r = answer(first, second);
    if (r == 0) key_.emplace_back(this->m_fimage_list[first], this->m_fimage_list[second]);
    return r;
  }
  const KeyFrameSelect::KeyFrame* AcceptedKeyFrame() const override {
    return key_.empty() ? nullptr : &key_.front();
  }

 private:
  std::vector<KeyFrameSelect::KeyFrame> key_;
};

}  // namespace kxtest
