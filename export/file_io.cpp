#include "export/file_io.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <locale>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "export/save_cam_path.h"
#include "export/writer_support.h"
#include "export/writers/save_cam_path_2d_track.h"
#include "export/writers/save_cam_path_3dmax.h"
#include "export/writers/save_cam_path_blender.h"
#include "export/writers/save_cam_path_carrara.h"
#include "export/writers/save_cam_path_collada.h"
#include "export/writers/save_cam_path_fbx.h"
#include "export/writers/save_cam_path_houdini.h"
#include "export/writers/save_cam_path_houdini_script.h"
#include "export/writers/save_cam_path_lwsc.h"
#include "export/writers/save_cam_path_maya.h"
#include "export/writers/save_cam_path_modo.h"
#include "export/writers/save_cam_path_text.h"
#include "export/writers/save_cam_path_truespace.h"
#include "export/writers/save_cam_path_xsi.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"
#include "tracking/job/camera_tracking_manager.h"

namespace FileIO {
namespace {

constexpr const char* kSavingFailed = "FileIO::SaveCameraTrackingManager: saving failed";

// Codes whose export is a SaveCamPath writer.
bool IsWriterCode(int type) {
  return (type >= 1 && type <= 9) || type == 15 || type == 16 || (type >= 19 && type <= 21) ||
         type == 24;
}

// The writer of a code; null for the writers that are not built yet.
std::unique_ptr<SaveCamPath> MakeWriter(int type, const char* directory, const char* file_name) {
  switch (type) {
    case 1:
      return std::make_unique<SaveCamPathText>(directory, file_name);
    case 2:
      return std::make_unique<SaveCamPath3DMax>(directory, file_name);
    case 3: {
      // The format's frame is the tracking frame turned about X; its frames are numbered
      // from the first image file.
      auto writer = std::make_unique<SaveCamPathXsi>(directory, file_name);
      writer->SetCoordinateMode(1);
      writer->SetFileIndexNumbering(1);
      return writer;
    }
    case 4:
      return std::make_unique<SaveCamPathMaya>(directory, file_name);
    case 5:
    case 6:
    case 7: {
      auto writer = std::make_unique<SaveCamPathBlender>(directory, file_name);
      writer->SetVersion(type == 5 ? 2.4f : type == 6 ? 2.5f : 2.6f);
      return writer;
    }
    case 8:
      return std::make_unique<SaveCamPathLWSC>(directory, file_name);
    case 9:
      return std::make_unique<SaveCamPathTruespace>(directory, file_name);
    case 15:
      return std::make_unique<SaveCamPathCollada>(directory, file_name);
    case 16:
      return std::make_unique<SaveCamPathCarrara>(directory, file_name);
    case 19:
      return std::make_unique<SaveCamPathHoudini>(directory, file_name);
    case 20:
      return std::make_unique<SaveCamPathHoudiniScript>(directory, file_name);
    case 21:
      return std::make_unique<SaveCamPathFBX>(directory, file_name);
    case 24:
      return std::make_unique<SaveCamPathModo>(directory, file_name);
    default:
      return nullptr;
  }
}

std::string JoinPath(const char* directory, const char* file_name) {
  if (directory == nullptr) return file_name;
  return std::string(directory) + "/" + file_name;
}

void LogSaved(int level, const char* directory, const char* file_name) {
  if (directory != nullptr) {
    Notify(level, "FileIO::SaveCameraTrackingManager: \"%s/%s\" !", directory, file_name);
  } else {
    Notify(level, "FileIO::SaveCameraTrackingManager: \"%s\" !", file_name);
  }
}

[[noreturn]] void FailFileName() {
  Notify(2, "FileIO::SaveCameraTrackingManager: type  file name not set");
  throw "FileIO::SaveCameraTrackingManager: file name not set";
}

// |step|, with 0 taken as 1 so that a range always advances.
long long StepSize(int step) {
  const long long size = std::llabs(static_cast<long long>(step));
  return size == 0 ? 1 : size;
}

struct PerImageTexts {
  const char* null_template;
  const char* empty_list;  // null: no such check
  const char* log_template;
  const char* bad_index;
  const char* bad_index_thrown;
};

const PerImageTexts kCahvTexts = {
    "FileIO::SaveCameraTrackingManagerCAHV: file template == NULL!",
    "FileIO::SaveCameraTrackingManagerCAHV: empty cam_list",
    "FileIO::SaveCameraTrackingManagerCAHV: \"%s\"",
    "FileIO::SaveCameraTrackingManagerCAHV: can't get image with index %d !",
    "save CAHV bad image index",
};

const PerImageTexts kPointTexts = {
    "FileIO::SaveCameraTrackingManagerFeaturePoints: file template == NULL !",
    nullptr,
    "FileIO::SaveCameraTrackingManagerFeaturePoints: \"%s\"",
    "FileIO::SaveCameraTrackingManagerFeaturePoints: can't get image with index %d !",
    "save 2D feature points bad image index",
};

// The image at a list position the range visits; a position outside the list is logged
// and thrown with the texts of the export.
const SharedPtr<FeatureImage>& ImageAt(const std::vector<SharedPtr<FeatureImage>>& images,
                                       long long index, const PerImageTexts& texts) {
  if (index < 0 || index >= static_cast<long long>(images.size())) {
    Notify(2, texts.bad_index, static_cast<int>(index));
    throw texts.bad_index_thrown;
  }
  return images[size_t(index)];
}

// One file per image of the range; write returns false when the file could not be
// written.
void SavePerImage(CameraTrackingManager* manager, const char* file_template, int first, int last,
                  int step, const PerImageTexts& texts,
                  const std::function<bool(const FeatureImage&, const char*)>& write) {
  if (file_template == nullptr) throw texts.null_template;
  if (manager == nullptr) throw kSavingFailed;
  const auto& images = manager->GetImageList();
  if (texts.empty_list != nullptr && images.empty()) throw texts.empty_list;
  Notify(5, texts.log_template, file_template);
  const long long size = StepSize(step);
  for (long long index = first; index <= last; index += size) {
    const SharedPtr<FeatureImage>& image = ImageAt(images, index, texts);
    if (!image) continue;
    const std::string name = NumberedFileName(file_template, image->GetFileIndex());
    if (!write(*image, name.c_str())) {
      LogSaved(2, nullptr, name.c_str());
      throw kSavingFailed;
    }
    Notify(0, "saved: \"%s\" !", name.c_str());
  }
}

}  // namespace

std::string NumberedFileName(const std::string& file_template, int number) {
  const size_t first = file_template.find('#');
  if (first == std::string::npos) return file_template;
  const size_t last = file_template.rfind('#');
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*d", static_cast<int>(last - first + 1), number);
  return file_template.substr(0, first) + digits + file_template.substr(last + 1);
}

int CollectImagesInRange(std::vector<SharedPtr<FeatureImage>>* out,
                         CameraTrackingManager* manager) {
  if (out == nullptr) return 0;
  out->clear();
  if (manager == nullptr) return 0;
  const int first = manager->GetFrameStart();
  const int last = manager->GetFrameEnd();
  for (const SharedPtr<FeatureImage>& image : manager->GetImageList()) {
    if (image && image->GetImageIndex() >= first && image->GetImageIndex() <= last) {
      out->push_back(image);
    }
  }
  return static_cast<int>(out->size());
}

bool SaveCameraTrackingManager(CameraTrackingManager* manager, const char* directory,
                               const char* file_name, int type, const NHSObject* scene_objects) {
  if (file_name == nullptr) FailFileName();
  if (manager == nullptr) {
    Notify(2, "FileIO::SaveCameraTrackingManager: tracking manager not set");
    throw kSavingFailed;
  }
  const int first = manager->GetFrameStart();
  const int last = manager->GetFrameEnd();
  const int step = manager->GetFrameStep();

  if (type == 10 || type == 11) {
    const std::string path = JoinPath(directory, file_name);
    if (type == 10) {
      SaveCameraTrackingManagerCAHV(manager, path.c_str(), first, last, step);
    } else {
      SaveCameraTrackingManagerCAHVtxtfile(manager, path.c_str(), first, last, step);
    }
    return true;
  }
  std::unique_ptr<SaveCamPath> writer =
      IsWriterCode(type) ? MakeWriter(type, directory, file_name) : nullptr;
  if (writer == nullptr) {
    // 17 and 18 are offered by the window but have no writer: say so rather than
    // pretend they were written.
    Notify(2, "FileIO::SaveCameraTrackingManager: type %d not supported!", type);
    return false;
  }

  SharedPtr<FeatureMap> map = manager->GetFeatureMap();
  if (!map) {
    Notify(2, "FileIO::SaveCameraTrackingManager: feature map not set");
    return false;
  }
  const int limit = manager->GetExportPointLimit();
  if (limit >= 0) map->MarkFPoint3DExport(limit);
  writer->SetImageCache(manager->GetImageCache());
  writer->SetSceneObjects(scene_objects);
  writer->SetFramesPerSecond(FrameRateFromSingle(map->GetFrameRate()));

  std::vector<SharedPtr<FeatureImage>> cameras;
  CollectImagesInRange(&cameras, manager);
  bool saved = false;
  {
    // The viewer may draw the points meanwhile; Save copies them.
    std::shared_lock<ReadWriteSpinLock> lock(map->GetFPoint3DLock());
    saved = writer->Save(cameras, map->GetFPoint3DList());
  }
  LogSaved(saved ? 4 : 2, directory, file_name);
  if (!saved) throw kSavingFailed;
  return true;
}

bool Save2DTrack(CameraTrackingManager* manager, const char* directory, const char* file_name,
                 int type, FeaturePoint2D* feature) {
  if (file_name == nullptr) FailFileName();
  if (manager == nullptr) {
    Notify(2, "FileIO::Save2DTrack: tracking manager not set");
    throw kSavingFailed;
  }
  const std::string path = JoinPath(directory, file_name);
  const int first = manager->GetFrameStart();
  const int last = manager->GetFrameEnd();
  const int step = manager->GetFrameStep();
  switch (type) {
    case 13:
      SaveCameraTrackingManagerFeaturePoints(manager, path.c_str(), first, last, step);
      return true;
    case 14:
      SaveFeatureTracksText(manager, path.c_str(), first, last, step);
      return true;
    case 22:
    case 23: {
      std::unique_ptr<SaveCamPath> writer;
      if (type == 22) {
        writer = std::make_unique<SaveCamPathSilhouette>(directory, file_name);
      } else {
        writer = std::make_unique<SaveCamPathAfterEffects2D>(directory, file_name);
      }
      // Keys timed at 25 frames a second would drift on footage of any other rate.
      SharedPtr<FeatureMap> map = manager->GetFeatureMap();
      if (map) writer->SetFramesPerSecond(FrameRateFromSingle(map->GetFrameRate()));
      const bool saved = writer->Save2DTrack(SharedPtr<FeaturePoint2D>::FromPlainPointer(feature));
      LogSaved(saved ? 4 : 2, directory, file_name);
      if (!saved) throw kSavingFailed;
      return true;
    }
    default:
      Notify(2, "FileIO::Save2DTrack: type %d not supported!", type);
      return false;
  }
}

void SaveCameraTrackingManagerCAHV(CameraTrackingManager* manager, const char* file_template,
                                   int first, int last, int step) {
  SavePerImage(
      manager, file_template, first, last, step, kCahvTexts,
      [](const FeatureImage& image, const char* name) { return image.Describe(name, 11); });
}

void SaveCameraTrackingManagerFeaturePoints(CameraTrackingManager* manager,
                                            const char* file_template, int first, int last,
                                            int step) {
  SavePerImage(manager, file_template, first, last, step, kPointTexts,
               [](const FeatureImage& image, const char* name) { return image.SaveFPoints(name); });
}

void SaveCameraTrackingManagerCAHVtxtfile(CameraTrackingManager* manager, const char* file_name,
                                          int first, int last, int step) {
  if (file_name == nullptr) throw "FileIO::SaveCameraTrackingManagerCAHVtxtfile: filename NULL!";
  if (manager == nullptr || manager->GetImageList().empty()) {
    throw "FileIO::SaveCameraTrackingManagerCAHVtxtfile: empty cam_list";
  }
  const auto& images = manager->GetImageList();
  Notify(5, "FileIO::SaveCameraTrackingManagerCAHVtxtfile: \"%s\"", file_name);
  const long long size = StepSize(step);
  bool written = false;
  for (long long index = first; index <= last; index += size) {
    if (index < 0 || index >= static_cast<long long>(images.size())) {
      Notify(2, "FileIO::SaveCameraTrackingManagerCAHVtxtfile: bad image index %d",
             static_cast<int>(index));
      continue;
    }
    const SharedPtr<FeatureImage>& image = images[size_t(index)];
    if (!image) continue;
    // The first camera starts the file, every further one is appended to it.
    if (!image->Describe(file_name, 11, written)) {
      LogSaved(2, nullptr, file_name);
      throw kSavingFailed;
    }
    written = true;
  }
  Notify(3, "FileIO::SaveCameraTrackingManagerCAHVtxtfile: saved \"%s\"", file_name);
}

void SaveFeatureTracksText(CameraTrackingManager* manager, const char* file_name, int first,
                           int last, int step) {
  if (file_name == nullptr) FailFileName();
  if (manager == nullptr) {
    Notify(2, "FileIO::Save2DTrack: tracking manager not set");
    throw kSavingFailed;
  }
  std::ofstream out(file_name, std::ios::out | std::ios::trunc);
  if (!out) {
    LogSaved(2, nullptr, file_name);
    throw kSavingFailed;
  }
  out.imbue(std::locale::classic());
  const auto& images = manager->GetImageList();
  const long long size = StepSize(step);
  for (long long index = first; index <= last; index += size) {
    const SharedPtr<FeatureImage>& image = ImageAt(images, index, kPointTexts);
    if (!image) continue;
    int number = 0;
    for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
      feature->SetTrackNumber(number);
      int linked = -1;
      int linked_image = -1;
      const SharedPtr<FeatureCorrespondence>& link = feature->GetPredecessor();
      if (link && link->GetFirst()) {
        const FeaturePoint2D& earlier = *link->GetFirst();
        linked = earlier.GetTrackNumber();
        linked_image = earlier.GetImage() != nullptr ? earlier.GetImage()->GetImageIndex() : -1;
      }
      out << number << ' ' << feature->x << ' ' << feature->y << ' ' << linked << ' '
          << static_cast<long>(image->GetImageIndex()) << ' ' << linked_image << '\n';
      ++number;
    }
  }
  out.close();
  if (out.fail()) {
    LogSaved(2, nullptr, file_name);
    throw kSavingFailed;
  }
}

}  // namespace FileIO

void SplitFileExtension(const std::string& file_name, std::string* base_name,
                        std::string* extension) {
  const size_t dot = file_name.rfind('.');
  const std::string base = dot == std::string::npos ? file_name : file_name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : file_name.substr(dot + 1);
  if (base_name != nullptr) *base_name = base;
  if (extension != nullptr) *extension = ext;
}
