// Test helpers for the viewers: a tracker made the controller's current one for a scope,
// and a viewer that counts its redraws.
#pragma once

#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/viewer.h"

namespace kxtest {

// The controller's current tracker is `tracker` while this lives (null afterwards).
class CurrentTracker {
 public:
  explicit CurrentTracker(uic::MetaCTracker* tracker) { Slot() = tracker; }
  ~CurrentTracker() { Slot() = nullptr; }
  CurrentTracker(const CurrentTracker&) = delete;
  CurrentTracker& operator=(const CurrentTracker&) = delete;

 private:
  // The controller sets its tracker only through a project or sequence load; tests reach
  // the field through a member pointer taken in a derived class.
  struct Access : uic::Global {
    static uic::MetaCTracker* uic::Global::*Member() { return &Access::m_tracker; }
  };
  static uic::MetaCTracker*& Slot() {
    uic::Global& global = *uic::Controller::Instance();
    return global.*Access::Member();
  }
};

class CountingViewer : public uic::Viewer {
 public:
  void Redraw() override {
    ++redraws;
    uic::Viewer::Redraw();
  }
  int redraws = 0;
};

}  // namespace kxtest
