// Test helper: a Callback that counts the reports per step type and asks to stop once a
// chosen number of reports has arrived.
#pragma once

#include <array>
#include <utility>
#include <vector>

#include "optimise/callback.h"

namespace kxtest {

class CallbackForTest : public Callback {
 public:
  // stop_after_reports: IsStopRequested turns true once that many reports (of any type)
  // have arrived; 0 never asks to stop on its own.
  explicit CallbackForTest(int stop_after_reports = 0) : stop_after_(stop_after_reports) {}

  void UpdateVisualisation(int type, int image) override {
    if (type >= 0 && type < static_cast<int>(counts.size())) ++counts[type];
    reports.emplace_back(type, image);
  }
  bool IsStopRequested() override {
    ++stop_queries;
    return stop || (stop_after_ > 0 && static_cast<int>(reports.size()) >= stop_after_);
  }

  std::array<int, 6> counts{};               // reports per step type 0..5
  std::vector<std::pair<int, int>> reports;  // (type, image) in arrival order
  int stop_queries = 0;
  bool stop = false;  // set to ask for a stop at the next query

 private:
  int stop_after_;
};

}  // namespace kxtest
