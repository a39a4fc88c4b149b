// Callback: the progress and cancel observer of a tracking run. The feature maps report
// each finished step, the sparse optimisers each iteration; the user interface implements
// it and turns the reports into progress.
//
// Step types: 0 and 1 a 2D-tracking step, 2 a step that carries no weight, 3 and 4 a
// camera step, 5 a bundle-adjustment iteration. image is the frame's image index, or -1
// when the step is not about one image.
//
// A reporter that sees IsStopRequested() true ends its work by throwing its current
// iteration number as an unsigned int (888 when the stop comes during the first
// evaluation). The observer is not owned by the reporters and is called on the tracking
// thread only.
#pragma once

class Callback {
 public:
  virtual ~Callback();
  // One step of the given type has finished.
  virtual void UpdateVisualisation(int type, int image) = 0;
  // True once the user has asked to stop the run.
  virtual bool IsStopRequested() = 0;
};
