// uic::Global: the current tracking job, the controller's second part.
//
// The controller owns the tracker it holds: replacing it destroys the old one (whose
// destructor stops and joins a running tracking thread). Interface thread only.
#pragma once

class Scene;

namespace uic {

class MetaCTracker;

class Global {
 public:
  // Destroys the tracker held.
  ~Global();
  Global(const Global&) = delete;
  Global& operator=(const Global&) = delete;

  // The current tracker or null.
  MetaCTracker* GetCTracker() const { return m_tracker; }
  // Takes ownership of tracker: the undo history (whose commands hold the old tracker) is
  // cleared, the old tracker destroyed and the new one derives its sequence description. Null or
  // the tracker already held: a warning and nothing else. Sends nothing: the callers (project open,
  // new project) send what they need.
  void SetCTracker(MetaCTracker* tracker);
  // The tracker's test scene or null.
  Scene* GetScene() const;
  // Images of the tracker's list; 0 without tracker.
  int GetNumberOfImages() const;
  // The tracker's frame range; 0 without tracker.
  int GetStartFrame() const;
  int GetEndFrame() const;
  // Store a new range end: a start above the end frame becomes the end frame (an end below
  // the start frame the start frame); a negative frame is not stored. Both send the
  // controller's frame notification whenever there is a tracker.
  void SetStartFrame(int frame);
  void SetEndFrame(int frame);
  // Chooses the exported 3D points of the current map (flag excluded-from-export):
  // 0 all; 1 at most n (FeatureMap::MarkFPoint3DExport); exactly 2 the selected, 3 the
  // named, 4 the user points, 5 the points that are not user points. Other modes, no
  // tracker or no map: nothing.
  void SetFPoint3DExportMode(int mode, int n);

 protected:
  // Only as a part of the controller.
  Global() = default;

  MetaCTracker* m_tracker = nullptr;
};

}  // namespace uic
