// Test helpers for the timeline: a timeline whose widget hooks record what they are asked
// (texts, redraws) and whose size is its buffer's, and a controller tracker with n plain
// frames.
#pragma once

#include <string>
#include <vector>

#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/timeline_base.h"
#include "interaction/tracker_job_for_test.h"

namespace kxtest {

struct DrawnText {
  double x, y;
  std::string text;
};

class TestTimeline : public uic::TimelineBase {
 public:
  void DrawText(double x, double y, const std::string& text) override {
    texts.push_back({x, y, text});
  }
  void Redraw() override { ++redraws; }
  void RedrawRect(const uic::RubberBand&, int) override { ++rect_redraws; }
  int GetWidth() override { return static_cast<int>(GetBuffer().width); }
  int GetHeight() override { return static_cast<int>(GetBuffer().height); }

  using uic::TimelineBase::SetView;
  std::vector<uic::TimelineCurve>& Curves() { return m_curves; }
  void Add(const uic::TimelineCurve& curve) { m_curves.push_back(curve); }
  uint32_t Pixel(int x, int y) const { return GetBuffer().GetElement(uint32_t(x), uint32_t(y)); }
  // Texts drawn at x (the value axis draws at 15).
  std::vector<std::string> TextsAt(double x) const {
    std::vector<std::string> out;
    for (const DrawnText& t : texts) {
      if (t.x == x) out.push_back(t.text);
    }
    return out;
  }
  void Paint() {
    texts.clear();
    Repaint();
  }

  std::vector<DrawnText> texts;
  int redraws = 0;
  int rect_redraws = 0;
};

// A new controller tracker with n frames (8 x 6 grey PGM files), range 0 .. n-1, current
// frame 0, nothing selected; n 0 gives a tracker without a sequence. The controller owns
// the tracker while the job lives; the job then takes it back and leaves the controller as
// constructed (see ControllerJob).
struct FramesJob {
  TempDir dir;
  uic::MetaCTracker* tracker = new uic::MetaCTracker();

  explicit FramesJob(int n) {
    if (n > 0) tracker->SetSequence(WritePgmFrames(dir, n, 8, 6));
    uic::Controller& c = *uic::Controller::Instance();
    c.SetCTracker(tracker);
    c.DeselectAll(true);
    c.SetCurrentFrame(0, true);
    c.SetModified(false);
    tracker->GetImageCache()->ClearCache();
  }
  ~FramesJob() {
    uic::Controller& c = *uic::Controller::Instance();
    c.DeselectAll(true);
    ClearUndoStack();
    uic::MetaCTracker* held = c.GetCTracker();
    c.SetMetaCTracker(nullptr);
    c.*Access::Member() = nullptr;
    delete held;
    c.SetCurrentFrame(-1, false);
    c.SetModified(false);
  }

 private:
  struct Access : uic::Global {
    static uic::MetaCTracker* uic::Global::*Member() { return &Access::m_tracker; }
  };
};

inline uic::TimelineCurve Curve(int ident, int style,
                                const std::vector<uic::TimelineCurvePoint>& points, int param = 0) {
  uic::TimelineCurve c(ident, style, param);
  c.points = points;
  return c;
}

}  // namespace kxtest
