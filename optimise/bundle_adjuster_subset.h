// BundleAdjusterSubset: a sparse bundle adjustment whose cost stays bounded on long
// sequences. The joint adjustment runs on a subset only (every k-th camera, groups of
// images, or the most precise 3D points); then every camera is resectioned against the
// points and, unless the subset was the whole list, a short interleaved pass brings the
// cameras and points into line.
//
// A user's stop ends the sparse run only: it is caught, logged and the resection and the
// interleaved pass still run. Points flagged for a run (0x80 marks, temporary removal)
// get their flags back on every way out. Runs on the calling thread; the interleaved pass
// uses the worker pool.
#pragma once

#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "optimise/bundle_adjuster_sparse.h"

class FeaturePoint3D;

class BundleAdjusterSubset : public BundleAdjusterSparse {
 public:
  using BundleAdjusterSparse::Optimize;

  // Optimize(list); n is ignored.
  bool Run(const ImageList& list, unsigned n) override;

  // False for an empty list, else true (failures of the steps are logged).
  bool Optimize(const ImageList& list);
  // Resections every image's camera against its points (not removed, not protected,
  // linked by a correspondence with flag 0x1 or 0x40). True.
  bool CameraResection(const ImageList& list);
  // Sparse runs over groups of consecutive images that each bring more than
  // m_subset_size new points; consecutive groups share one image. True.
  bool OptimizeGroups(const ImageList& list);
  // A sparse run over the whole list with only the m_subset_size most precise points
  // (smallest covariance determinant) of the point list. False without a point list.
  bool OptimizeFPoint3DSubset(const ImageList& list);
  // Three passes of the interleaved adjuster (triangulation and resection) with this
  // adjuster's model and mask; its result.
  bool InterleavePass(const ImageList& list);

  // The step between the cameras of the sparse run in mode 0: 1 up to 50 images, 2 up to
  // 100, 3 up to 200, else 4.
  static int CameraStep(size_t images);

  // The owner's point list for mode 3 (not owned; must outlive the run).
  void SetFPoint3DList(std::vector<SharedPtr<FeaturePoint3D>>* list) { m_fpoint3d_list = list; }

  int m_subset_mode = 0;    // 0 every k-th camera, 1 groups, 2 every camera, 3 point subset
  int m_subset_size = 500;  // new points per group (mode 1), points kept (mode 3)
  std::vector<SharedPtr<FeaturePoint3D>>* m_fpoint3d_list = nullptr;

 private:
  // BundleAdjusterSparse::Run over subset; a user's stop is caught: stopped then holds
  // the iteration number.
  bool SparseRun(const ImageList& subset, bool& stopped, unsigned& iteration);
};
