#include "app/batch_run.h"

#include <exception>
#include <string>

#include "export/file_io.h"
#include "foundation/runtime/split_path.h"
#include "interaction/tracking_quality.h"

void BatchTracker::SendProgressMsg(double fraction) {
  if (progress_) progress_->Update(fraction);
}

void BatchTracker::SendTrackingMsgItems() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ = true;
  posted_.notify_all();
}

void BatchTracker::TrackingFinished() {
  MetaCTracker::TrackingFinished();
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
}

void BatchTracker::WaitForEnd() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (finished_) break;
      posted_.wait(lock, [&] { return pending_; });
      pending_ = false;
    }
    TrackingMsgHandler(this);
  }
  if (progress_) progress_->Finish();
}

BatchSummary SummariseRun(uic::MetaCTracker& tracker) {
  BatchSummary summary;
  int start = 0, end = 0, step = 1;
  tracker.GetFrameRange(&start, &end, &step);
  if (step == 0) step = 1;
  if (step < 0) step = -step;
  for (int i = start; i <= end; i += step) {
    const SharedPtr<FeatureImage>& image = tracker.GetFImage(unsigned(i));
    if (!image) continue;
    ++summary.frames;
    if (image->GetMeanSquaredError() >= 0.0) ++summary.solved;
  }
  if (SharedPtr<FeatureMap> map = tracker.GetFeatureMap()) {
    summary.rmse = map->GetRMSE();
    summary.points = int(map->CountValidFPoint3D());
  }
  return summary;
}

int FinishBatchRun(uic::MetaCTracker& tracker, std::FILE* err) {
  const BatchSummary summary = SummariseRun(tracker);
  if (!summary.HasResult()) {
    std::fprintf(err, "kalvex: tracking ended without a camera result (%d of %d frames solved)\n",
                 summary.solved, summary.frames);
    for (const ExportRequest& request : tracker.m_export_list) {
      std::fprintf(err, "kalvex: \"%s\" not written: no camera result\n",
                   request.file_name.c_str());
    }
    return kExitFailed;
  }
  std::fprintf(err, "kalvex: solved %d of %d frames, RMSE %.3f px, track quality %.1f %%\n",
               summary.solved, summary.frames, summary.rmse,
               uic::GetTrackQuality(summary.rmse) * 100.0);
  if (summary.solved < summary.frames) {
    std::fprintf(err, "kalvex: warning: %d of %d frames were left unsolved\n",
                 summary.frames - summary.solved, summary.frames);
  }

  int code = kExitOk;
  for (const ExportRequest& request : tracker.m_export_list) {
    std::string directory, file;
    SplitPath(request.file_name.c_str(), &directory, &file);
    const char* failure = nullptr;
    std::string what;
    try {
      if (!FileIO::SaveCameraTrackingManager(&tracker,
                                             directory.empty() ? nullptr : directory.c_str(),
                                             file.empty() ? nullptr : file.c_str(), request.type)) {
        failure = "nothing written (see the log)";
      }
    } catch (const char* text) {
      failure = text ? text : "unknown failure";
    } catch (const std::exception& error) {
      what = error.what();
      failure = what.c_str();
    } catch (...) {
      failure = "unknown failure";
    }
    if (failure) {
      std::fprintf(err, "kalvex: export \"%s\" (type %d) failed: %s\n", request.file_name.c_str(),
                   request.type, failure);
      code = kExitFailed;
    } else {
      std::fprintf(err, "kalvex: wrote \"%s\"\n", request.file_name.c_str());
    }
  }
  return code;
}
