#include "app/batch_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <set>
#include <string>

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
  std::set<const FeatureImage*> final_frames;
  SharedPtr<FeatureMap> map = tracker.GetFeatureMap();
  if (map) {
    for (const SharedPtr<FeatureImage>& image : map->GetFImageList())
      final_frames.insert(image.Get());
  }
  int start = 0, end = 0, step = 1;
  tracker.GetFrameRange(&start, &end, &step);
  if (step == 0) step = 1;
  if (step < 0) step = -step;
  for (int i = start; i <= end; i += step) {
    const SharedPtr<FeatureImage>& image = tracker.GetFImage(unsigned(i));
    if (!image) continue;
    ++summary.frames;
    const bool measured = image->GetMeanSquaredError() >= 0.0;
    if (measured && final_frames.count(image.Get()) != 0) {
      ++summary.solved;
      continue;
    }
    if (measured) ++summary.other_reconstruction;
    summary.unsolved.push_back(image->GetFileIndex());
  }
  if (map) {
    summary.rmse = map->GetRMSE();
    summary.points = int(map->CountValidFPoint3D());
    summary.rotation_only = map->RotationOnlyResult();
  }
  return summary;
}

std::string NumberRangesText(std::vector<int> numbers) {
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  std::string text;
  for (size_t i = 0; i < numbers.size();) {
    size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(numbers[i]);
    if (j > i) text += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return text;
}

bool CheckExportTargets(const std::vector<ExportRequest>& requests, std::FILE* err) {
  bool good = true;
  std::set<std::string> seen;
  for (const ExportRequest& request : requests) {
    const std::string& name = request.file_name;
    auto refuse = [&](const std::string& why) {
      std::fprintf(err, "kalvex: export \"%s\": %s\n", name.c_str(), why.c_str());
      good = false;
    };
    if (!seen.insert(name).second) {
      refuse("named by two exports; one would overwrite the other");
      continue;
    }
    struct stat info;
    if (::stat(name.c_str(), &info) == 0) {
      if (S_ISDIR(info.st_mode)) {
        refuse("is a folder");
      } else if (::access(name.c_str(), W_OK) != 0) {
        refuse(std::strerror(errno));
      }
      continue;
    }
    std::string directory, file;
    SplitPath(name.c_str(), &directory, &file);
    if (file.empty()) {
      refuse("names no file");
      continue;
    }
    if (directory.empty()) directory = ".";
    if (::stat(directory.c_str(), &info) != 0) {
      refuse("folder \"" + directory + "\": " + std::strerror(errno));
    } else if (!S_ISDIR(info.st_mode)) {
      refuse("\"" + directory + "\" is not a folder");
    } else if (::access(directory.c_str(), W_OK) != 0) {
      refuse("folder \"" + directory + "\": " + std::strerror(errno));
    }
  }
  return good;
}

int FinishBatchRun(uic::MetaCTracker& tracker, std::FILE* err) {
  const BatchSummary summary = SummariseRun(tracker);
  if (!summary.HasResult()) {
    std::fprintf(err,
                 "kalvex: tracking ended without a camera result (%d of %d frames solved, %d 3D "
                 "points)\n",
                 summary.solved, summary.frames, summary.points);
    for (const ExportRequest& request : tracker.m_export_list) {
      std::fprintf(err, "kalvex: \"%s\" not written: no camera result\n",
                   request.file_name.c_str());
    }
    return kExitFailed;
  }
  std::fprintf(err, "kalvex: solved %d of %d frames, RMSE %.3f px, track quality %.1f %%\n",
               summary.solved, summary.frames, summary.rmse,
               uic::GetTrackQuality(summary.rmse) * 100.0);
  if (!summary.Complete()) {
    std::fprintf(err, "kalvex: warning: frames %s are not part of the solved camera path\n",
                 NumberRangesText(summary.unsolved).c_str());
  }
  if (summary.other_reconstruction > 0) {
    std::fprintf(err,
                 "kalvex: warning: the result is split: %d of those frames belong to an earlier "
                 "reconstruction that is not aligned with the solved path; the exports hold "
                 "their cameras as they were\n",
                 summary.other_reconstruction);
  }

  if (summary.rotation_only) {
    std::fprintf(err,
                 "kalvex: warning: the result is rotation-only: no two frames had enough "
                 "parallax for a free-motion solve, so every camera stays at one position and "
                 "only turns and zooms\n");
  }

  int code = summary.Complete() ? kExitOk : kExitPartial;
  for (const ExportRequest& request : tracker.m_export_list) {
    std::string directory, file;
    SplitPath(request.file_name.c_str(), &directory, &file);
    std::string failure;
    errno = 0;
    try {
      if (!tracker.ExportCameraPath(directory.empty() ? nullptr : directory.c_str(),
                                    file.empty() ? nullptr : file.c_str(), request.type)) {
        failure = "nothing written";
      }
    } catch (const char* text) {
      failure = text ? text : "unknown failure";
    } catch (const std::exception& error) {
      failure = error.what();
    } catch (...) {
      failure = "unknown failure";
    }
    if (!failure.empty()) {
      // The writers report by text only; the system's reason is still in errno.
      if (errno != 0) failure += std::string(" (") + std::strerror(errno) + ")";
      std::fprintf(err, "kalvex: export \"%s\" (type %d) failed: %s\n", request.file_name.c_str(),
                   request.type, failure.c_str());
      code = kExitFailed;
    } else {
      std::fprintf(err, "kalvex: wrote \"%s\"\n", request.file_name.c_str());
    }
  }
  return code;
}
