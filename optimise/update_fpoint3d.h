// UpdateFPoint3D: keeps the 3D points of a free-motion reconstruction in step with the 2D
// feature tracks while the cameras are held fixed. For every correspondence it follows the
// track back through the reconstructed images, triangulates it over all its observations
// (TriangulationMultiView) and then refines the point the track carries, makes a new point
// and links the track to it, or flags a bad point as removed. Points are never erased.
//
// The work runs on the WorkerPool: one work record per pool thread (counted at
// construction, at least 1), correspondences claimed one at a time from a shared counter.
// The tracks of one call must be disjoint (the correspondences of one image pair); each
// job writes only the features and points of the tracks it claimed.
//
// New points are appended to the caller's point list in batches; each batch is appended
// under an internal spin word and, when the caller passes one, under the write side of the
// list's ReadWriteSpinLock, held only for the appends. A reader holding the read side sees
// the list whole at any time.
//
// Per-correspondence failures are counted (err1..err18) and reported at the end: at
// level 5 while a counter is below a quarter of the correspondences, else at level 2.
// Nothing throws. Parameter::m_use_old_update is not read: there is one update.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/spin_lock.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/triangulation_multi_view.h"
#include "geometry/update_fpoint3d_parameter.h"

class FeatureImage;
class FeatureCorrespondenceIterator;
class KeyFrameSelect;

class UpdateFPoint3D {
 public:
  using Parameter = UpdateFPoint3DParameter;
  using t_ListFCorr = std::vector<SharedPtr<FeatureCorrespondence>>;
  using ImageList = std::vector<SharedPtr<FeatureImage>>;
  using PointList = std::vector<SharedPtr<FeaturePoint3D>>;

  static constexpr int kNumErrors = 18;

  // The counts of one run (or of one work record).
  struct Counts {
    unsigned processed = 0;             // correspondences that reached the triangulation
    unsigned created = 0;               // new points
    unsigned updated = 0;               // refined points
    unsigned err[kNumErrors + 1] = {};  // err[k] is errk; err[0] unused
    unsigned longest_updated_chain = 0;
    unsigned longest_new_chain = 0;
  };

  UpdateFPoint3D();
  ~UpdateFPoint3D();
  UpdateFPoint3D(const UpdateFPoint3D&) = delete;
  UpdateFPoint3D& operator=(const UpdateFPoint3D&) = delete;

  void SetParameter(const Parameter& parameter) { m_parameter = parameter; }
  const Parameter& GetParameter() const { return m_parameter; }
  void SetMaxStdDev(double sigma) { m_max_std_dev = sigma; }
  unsigned GetNumWorkRecords() const { return m_num_records; }

  // Triangulates the tracks of corrs over the images of the list (observations in other
  // images are passed over), appending new points to points. point_lock: the lock readers
  // of points hold, or null when nobody reads concurrently. key_frames: when given, the
  // first accepted key-frame pair's partner of a track's oldest feature is added as an
  // observation. min_obs: observations a new point needs; check_displacement: a new point
  // also needs m_min_displacement pixels of parallax; unlimited_chain: link a new point
  // to the whole supported track instead of at most (images - 1) features behind the
  // current one; reverse: the tracks are followed towards later images.
  // False (level-2 line, nothing changed) with fewer than 2 images or no correspondences.
  bool Update3DFPMaximumLikelihood(const t_ListFCorr& corrs, const ImageList& images,
                                   PointList& points, ReadWriteSpinLock* point_lock,
                                   const KeyFrameSelect* key_frames, unsigned min_obs,
                                   bool check_displacement, bool unlimited_chain, bool reverse);
  // The same over the links the iterator yields, followed backwards.
  bool Update3DFPMaximumLikelihood(FeatureCorrespondenceIterator iterator, const ImageList& images,
                                   PointList& points, ReadWriteSpinLock* point_lock,
                                   const KeyFrameSelect* key_frames, unsigned min_obs,
                                   bool check_displacement, bool unlimited_chain);

  // The summed counts of the last run.
  const Counts& GetLastCounts() const { return m_last; }
  unsigned GetLongestUpdatedChain() const { return m_last.longest_updated_chain; }
  unsigned GetLongestNewChain() const { return m_last.longest_new_chain; }

  // Logs every non-zero counter with its text against the total n (see above).
  void ReportErrorCounters(const Counts& counts, unsigned n, unsigned min_obs) const;

 private:
  struct WorkRecord;
  struct Context;

  void Job(Context& context, WorkRecord& record) const;
  void ProcessOne(Context& context, WorkRecord& record, const FeatureCorrespondence* q) const;
  static void Flush(Context& context, WorkRecord& record);

  Parameter m_parameter;
  unsigned m_num_records = 1;
  std::unique_ptr<WorkRecord[]> m_records;
  Counts m_last;
  double m_max_std_dev = 0.0;
};
