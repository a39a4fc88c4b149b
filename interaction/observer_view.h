// uic::ObserverView: the free camera of the scene view. It orbits the scene's orbit centre
// at a distance, looks at it, and carries the projection matrix the software renderer uses
// for the scene view (ViewerBase::ObserverView). uic::LockViewAnchor: what the image view
// follows while the lock view is on (a 3D point or one 2D track).
//
// Conventions: row-major matrices acting on column vectors, A x B applies B first; world
// coordinates are the reconstruction's. The observer looks along +f of its look-at
// rotation (rows s, u, f), as the solved cameras look along their axis.
//
// The orbit centre belongs to the current tracker's scene (Controller), not to the
// observer, so every observer of every viewer shares it. Without a scene each operation
// logs (level 2) and works with the orbit centre at the origin; nothing fails.
//
// Interface thread only.
#pragma once

#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/shared_ptr.h"

class FeatureImage;
class FeaturePoint2D;
class PerspectiveCamera;
class Scene;

namespace uic {

class ObserverView {
 public:
  // Distances below this are raised to it wherever the distance changes: closer, the
  // near plane and the orbit centre marker would swallow the view.
  static constexpr double kMinDistance = 3.0;

  // The perspective of the scene view: zeros except P[0][0] = c / aspect, P[1][1] = c,
  // P[2][2] = (near + far) / (far - near), P[2][3] = 2 near far / (far - near), P[3][2] = 1,
  // with c = 1 / tan(fov pi / 360) (fov: full angle in degrees); the third row is then
  // scaled to the length of the first. Returns 0; -1 when far = near, -2 when aspect is 0,
  // -3 when the tangent is 0 (P untouched then).
  static int MakePerspective(double fov, double aspect, double near, double far, Matrix4x4& P);
  // The look-at rotation (rows s, u, f; last row and column of the identity) for an eye
  // looking at target with the given vertical. A degenerate set-up (eye on the target,
  // vertical along the view) gives zero rows, not an error.
  static Matrix4x4 LookAt(const vm::Vector3& target, const vm::Vector3& eye,
                          const vm::Vector3& vertical);

  explicit ObserverView(int type = 0);

  // Orientation Rx(-0.2 rad); orbit centre to the origin; distance 200, eye (0, 0, -200),
  // vertical (0, 1, 0); projection rebuilt.
  void ResetObserver();
  // projection = perspective(15 deg, 1, 0.1, 1000) x look-at(orbit centre) x translation
  // by -eye.
  void UpdateProjectionMatrix();
  // Orbit and pan by a pointer motion: [0] turn about the observer's x axis, [1] its y
  // axis, [2] its viewing axis (half a degree per unit); [3], [4] pan the orbit centre by
  // -0.5 x the motion along the observer's horizontal and vertical, [5] along its view.
  // The eye ends on the sphere of radius distance (at least kMinDistance) about the centre.
  void UpdateProjection(const double motion[6]);
  // The same motion as a rigid move of the ground grid (grid) or of the reconstruction as
  // seen from here, one degree per unit of turn; the observer stays. Null scene: logged.
  void UpdateTransform(const double motion[6], Scene* scene, bool grid);
  // Behind the solved camera: vertical = V0, orbit centre = C + distance A,
  // eye = C + 0.4 distance (-A - 0.4 V0).
  void UpdateCameraAttached(const PerspectiveCamera& camera);
  // Turns the observer with the world: orientation = R x orientation (R = M without its
  // translation), then eye and vertical follow about the unchanged orbit centre.
  void Transform(const Matrix4x4& M);
  // orientation = orientation x rotation(axis, angle in radians); eye and projection
  // follow at the next UpdateProjection.
  void Turn(const vm::Vector3& axis, double angle);
  // distance = max(d, kMinDistance); the projection follows at the next update.
  void SetDistance(double d);

  int m_type = 0;  // ViewerBase::ObserverViewType: its index among the viewer's observers
  Matrix4x4 m_projection;
  Matrix4x4 m_orientation;  // relative to the reset pose; translation column stays zero
  double m_distance = 200.0;
  vm::Vector3 m_vertical{0.0, 1.0, 0.0};
  vm::Vector3 m_eye{0.0, 0.0, -200.0};
};

// The lock view's anchor: kind 0 none, 1 a 3D point (m_position), 2 a 2D track (m_track:
// its features in frame order; the anchor holds references to them).
struct LockViewAnchor {
  enum Kind { eNone = 0, ePoint3D = 1, eTrack2D = 2 };

  // Where the anchor lies in image (pixels): a 3D point projected with the image's
  // camera, true only in front of it; for a track the feature in this image, false before
  // the track's first or after its last frame or where it has no feature here.
  bool GetImagePosition(double& x, double& y, const FeatureImage& image) const;
  // No anchor.
  void Reset();
  // From the selected 2D features: the mean of their 3D points (a direction taken at 5
  // focal lengths from its feature's camera), else the track of the first one. False,
  // the anchor unchanged, when no 2D feature is selected.
  bool SetFromSelected2DFeatures();
  // The selected scene object's global position, else the mean of the selected points of
  // the point cloud. False, the anchor unchanged, when neither is there.
  bool SetFromScene(Scene* scene);

  int m_kind = eNone;
  vm::Vector3 m_position{0.0, 0.0, 0.0};
  std::vector<SharedPtr<FeaturePoint2D>> m_track;
};

// The view offset (left or top edge of the image, in view pixels) that puts image
// coordinate a in the middle of a view of `size` pixels at the given scale.
int CentredOffset(int size, double a, double scale);

}  // namespace uic
