// The tracking job's set-up: file templates and lists, the images built from the frame
// cache, the initial camera and the per-frame pixel size, focal length and distortion.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "image/image_list.h"
#include "tracking/job/camera_tracking_manager.h"

namespace {

// Half the horizontal field of view of a new initial camera (39.6 degrees in all).
constexpr double kInitHalfFieldOfView = 0.34557519189487729;
// Pixel size of the initial camera of a job without images: a 4:3 frame of 720 x 576.
constexpr double kDefaultPixelSizeX = 0.10666666666666667;
constexpr double kDefaultPixelSizeY = 0.1;
constexpr int kDefaultWidth = 720;
constexpr int kDefaultHeight = 576;
// Widest zero padding a template may ask for; longer runs are ordinary text.
constexpr int kMaxNumberWidth = 4096;

// A file template with the place its frame number goes: the '#' run, or else the first
// "%d" / "%0Nd". The template is never handed to printf, so any other '%' (a directory
// named "100%", a stray "%s") stays as it is.
class FrameNameTemplate {
 public:
  explicit FrameNameTemplate(std::string text) : text_(std::move(text)) {
    const size_t hash = text_.find('#');
    if (CameraTrackingManager::MapWildcard(text_)) {
      ParseConversion(hash);
      return;
    }
    for (size_t i = text_.find('%'); i != std::string::npos; i = text_.find('%', i + 1)) {
      if (ParseConversion(i)) return;
    }
  }

  // The template has a place for the frame number.
  bool Numbered() const { return pos_ != std::string::npos; }
  const std::string& Text() const { return text_; }

  // The name of frame `number`; the template itself when it has no number slot.
  std::string Format(int number) const {
    if (pos_ == std::string::npos) return text_;
    std::vector<char> digits(size_t(width_) + 16);
    std::snprintf(digits.data(), digits.size(), "%0*d", width_, number);
    return text_.substr(0, pos_) + digits.data() + text_.substr(pos_ + length_);
  }

 private:
  // Takes "%d" or "%0Nd" at i as the number slot.
  bool ParseConversion(size_t i) {
    size_t j = i + 1;
    int width = 0;
    if (j < text_.size() && text_[j] == '0') {
      for (++j; j < text_.size() && text_[j] >= '0' && text_[j] <= '9'; ++j) {
        width = width * 10 + (text_[j] - '0');
        if (width > kMaxNumberWidth) return false;
      }
    }
    if (j >= text_.size() || text_[j] != 'd') return false;
    pos_ = i;
    length_ = j + 1 - i;
    width_ = width;
    return true;
  }

  std::string text_;
  size_t pos_ = std::string::npos;
  size_t length_ = 0;
  int width_ = 0;
};

// Gives the camera another frame size; pose, pixel size and distortion stay.
void SetFrameSize(PerspectiveCamera& camera, int width, int height) {
  camera.SetAll(camera.GetC(), camera.GetA(), camera.GetH(), camera.GetV(), uint32_t(width),
                uint32_t(height), camera.GetPixelSizeX(), camera.GetPixelSizeY(),
                camera.GetDistortionCoefficients(), camera.GetFurtherValues(),
                camera.GetDistortionModel());
}

// The first image's size for the aspect set-ups (w, h), with the initial camera brought to
// that size; false, with a level-2 line of `method`, for a zero side or no initial camera.
bool AspectFrameSize(const char* method, const FeatureImage& first, PerspectiveCamera* init, int* w,
                     int* h) {
  *w = int(first.GetWidth());
  *h = int(first.GetHeight());
  if (*w == 0 || *h == 0) {
    Notify(2, "CameraTrackingManager::%s: zero image size (%d x %d)", method, *w, *h);
    return false;
  }
  if (init == nullptr) {
    Notify(2, "CameraTrackingManager::%s: initial camera not set", method);
    return false;
  }
  if (int(init->GetWidth()) != *w || int(init->GetHeight()) != *h) {
    Notify(2, "CameraTrackingManager::%s: different images sizes, correcting...", method);
    SetFrameSize(*init, *w, *h);
  }
  return true;
}

bool PositiveFinite(double v) {
  return v > 0.0 && std::isfinite(v);
}

// Field modes in which every file holds two frames.
bool TwoFramesPerFile(int field_mode) {
  return field_mode == 3 || field_mode == 5;
}

void TakeDistortion(FeatureImage& image, const FeatureImage& key) {
  const double* k = key.GetDistortionCoefficients();
  image.SetDistortion(k[0], k[1], key.GetRdDim(), key.GetDistortionModel());
}

}  // namespace

bool CameraTrackingManager::MapWildcard(std::string& fileTemplate) {
  const size_t first = fileTemplate.find('#');
  if (first == std::string::npos) return false;
  const size_t length = fileTemplate.rfind('#') + 1 - first;
  const std::string conversion = length == 1 ? "%d" : "%0" + std::to_string(length) + "d";
  fileTemplate.replace(first, length, conversion);
  Notify(10, "CameraTrackingManager::MapWildcard: %s", fileTemplate.c_str());
  return true;
}

bool CameraTrackingManager::HasFrameNumber(const std::string& fileTemplate) {
  return FrameNameTemplate(fileTemplate).Numbered();
}

int CameraTrackingManager::SetSequence(const char* fileTemplate, int first, int last, int step,
                                       const char* text1, const char* text2, const char* text3) {
  const bool open = first < 0 || last < 0;
  if (!open && step == 0) {
    Notify(2, "CameraTrackingManager::SetSequence: step 0 for the frames %d to %d", first, last);
    return -1;
  }
  const FrameNameTemplate name(fileTemplate != nullptr ? fileTemplate : "");
  int64_t stride = step;  // 64 bits: the loop must end even when last + step passes INT_MAX
  if (step < 0) stride = -stride;
  if (!open) {
    // A name without a number would be the same picture for every frame of the range.
    if (!name.Numbered()) {
      Notify(2,
             "CameraTrackingManager::SetSequence: \"%s\" names one file, not the frames %d to %d",
             name.Text().c_str(), first, last);
      return -1;
    }
    // Every name of a closed range is built before any file is looked at.
    if (int64_t(last) - first >= kMaxFrameRange * stride) {
      Notify(2, "CameraTrackingManager::SetSequence: the frames %d to %d are more than %lld", first,
             last, static_cast<long long>(kMaxFrameRange));
      return -1;
    }
  }
  m_sequence_template = fileTemplate != nullptr ? fileTemplate : "";
  if (text1 != nullptr) m_sequence_text1 = text1;
  if (text2 != nullptr) m_sequence_text2 = text2;
  if (text3 != nullptr) m_sequence_text3 = text3;

  if (open) {
    int number = 0;
    if (first >= 0) number = first;
    if (last >= 0) number = last;
    return SetImageFileList(FindSequenceFiles(name.Format(number).c_str(), first, last));
  }

  if (step < 0) {
    m_reverse = true;
    Notify(4, "CameraTrackingManager::SetSequence: track sequence in reverse order !!");
  }
  PackedStringListPtr list = PackedStringListPtr::Make();
  for (int64_t number = first; number <= last; number += stride) {
    list->Append(name.Format(int(number)).c_str(), int32_t(number));
  }
  return SetImageFileList(list);
}

int CameraTrackingManager::SetImageFileList(SharedPtr<PackedStringList> list) {
  PerspectiveCamera prior;
  if (list) {
    const int result = m_image_cache.SetImageList(list, -1, -1);
    if (result != 0) {
      Notify(2, "CameraTrackingManager::SetImageFileList: set file list to image cache failed");
      return result;
    }
    if (m_init_camera) prior.CopyFrom(*m_init_camera, false);
  }

  // Clearing the old job must not drop the template and texts SetSequence just stored.
  const std::string sequence_template = m_sequence_template;
  const std::string sequence_text2 = m_sequence_text2;
  Clear();
  m_sequence_template = sequence_template;
  m_sequence_text2 = sequence_text2;

  const int32_t frames = int32_t(m_image_cache.GetNumFrames());
  const bool two_per_file = TwoFramesPerFile(m_image_cache.GetFieldMode());
  const PackedStringListPtr files = m_image_cache.GetFileList();
  m_image_list.reserve(size_t(frames));
  for (int32_t i = 0; i < frames; ++i) {
    auto image = SharedPtr<FeatureImage>::Make(static_cast<FeatureImageOwner*>(this));
    image->SetFlags(uint32_t(m_new_image_flags));
    const int32_t k = two_per_file ? i / 2 : i;
    if (files) {
      image->SetFileName(files->GetEntryName(k));  // clamped; "no image" for an empty list
      image->SetFileIndex(k < files->Count() ? files->GetEntryNumber(k) : 0);
    } else {
      image->SetFileName(nullptr);
      image->SetFileIndex(0);
    }
    image->SetImageIndex(i);
    m_image_list.push_back(image);
  }

  InitCameras(list ? &prior : nullptr);
  m_frame_start = 0;
  m_frame_end = frames - 1;
  m_frame_step = 1;
  return 0;
}

int CameraTrackingManager::ChangeFilePath(SharedPtr<PackedStringList> list) {
  if (!list) {
    Notify(2, "CameraTrackingManager::ChangeFilePath: no file list given");
    return -2;
  }
  if (m_image_cache.SetImageList(list, -1, -1) != 0) {
    Notify(2, "CameraTrackingManager::ChangeFilePath: set file list to image cache failed");
    return -2;
  }
  if (m_image_list.empty()) return SetImageFileList(list);

  // The cache's list: a list file given here is read there into its entries.
  const PackedStringListPtr files = m_image_cache.GetFileList();
  if (!files) return 0;
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (!image || image->GetFileIndex() < 0) continue;
    const int32_t e = files->FindNumber(image->GetFileIndex());
    if (e >= 0) image->SetFileName(files->GetEntryName(e));
  }
  return 0;
}

int CameraTrackingManager::RestoreImageList() {
  if (m_image_list.empty()) return 0;
  const size_t step = TwoFramesPerFile(m_image_cache.GetFieldMode()) ? 2 : 1;
  PackedStringListPtr list = PackedStringListPtr::Make();
  for (size_t position = 0; position < m_image_list.size(); position += step) {
    const SharedPtr<FeatureImage>& image = m_image_list[position];
    if (image) list->Append(image->GetFileName(), image->GetFileIndex());
  }
  if (m_image_cache.SetImageList(list, -1, -1) != 0) return -1;
  for (size_t position = 0; position < m_image_list.size(); ++position) {
    if (m_image_list[position]) m_image_list[position]->SetImageIndex(int32_t(position));
  }
  return 0;
}

void CameraTrackingManager::RecycleImages(unsigned n) {
  if (m_image_list.empty() || n == 0) return;
  const size_t count = m_image_list.size();
  if (n > count) {
    Notify(2, "CameraTrackingManager::RecycleImages: %u images asked for, %zu in the list", n,
           count);
    n = unsigned(count);
  }
  int32_t last = m_image_list.back() ? m_image_list.back()->GetImageIndex() : int32_t(count) - 1;
  // The oldest n move behind the others, both groups in their order.
  std::rotate(m_image_list.begin(), m_image_list.begin() + n, m_image_list.end());
  for (size_t position = count - n; position < count; ++position) {
    ++last;
    const SharedPtr<FeatureImage>& image = m_image_list[position];
    if (!image) continue;
    image->SetImageIndex(last);
    image->SetFileIndex(last);
    image->ClearFPoints2D();
    image->AssignFlags(0);
  }
  m_first_image_index += int(n);
}

void CameraTrackingManager::InitCameras(const PerspectiveCamera* prior) {
  m_init_camera = std::make_unique<PerspectiveCamera>();
  if (prior != nullptr) m_init_camera->CopyFrom(*prior, false);

  int width = m_image_cache.GetFrameWidth();
  int height = m_image_cache.GetFrameHeight();
  const int field_mode = m_image_cache.GetFieldMode();
  if (field_mode >= 1 && field_mode <= 3) height /= 2;
  if (width <= 0 || height <= 0) {
    Notify(2,
           "CameraTrackingManager::InitCameras: no images in image cache, used default image "
           "sizes");
    width = kDefaultWidth;
    height = kDefaultHeight;
  }
  SetFrameSize(*m_init_camera, width, height);

  double sx = kDefaultPixelSizeX;
  double sy = kDefaultPixelSizeY;
  if (!m_image_list.empty() && m_image_list.front()) {
    sx = m_image_list.front()->GetPixelSizeX();
    sy = m_image_list.front()->GetPixelSizeY();
  }
  m_init_camera->SetPixelSize(sx, sy);
  m_init_camera->SetFocalLength(sx * double(width) / (2.0 * std::tan(kInitHalfFieldOfView)));

  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (image) image->CopyFrom(*m_init_camera, true);
  }
  Notify(5, "CameraTrackingManager::InitCameras: %ld cameras (feature images) initialized ",
         long(m_image_list.size()));
}

void CameraTrackingManager::SetCameraAspects(double frameAspect, double sensorDiagonal) {
  if (m_image_list.empty() || !m_image_list.front()) return;
  int w = 0;
  int h = 0;
  if (!AspectFrameSize("SetCameraAspects", *m_image_list.front(), m_init_camera.get(), &w, &h)) {
    return;
  }
  const double r = frameAspect * double(h) / double(w);
  Notify(5, "CameraTrackingManager::SetCameraAspects: psx, psy: %g, %g", r, 1.0);
  // The dimensionless r^2 is added to the squared pixel counts; focal lengths in mm of
  // existing projects depend on this form, the field of view does not.
  const double s =
      std::sqrt(sensorDiagonal * sensorDiagonal / (double(w) * w + double(h) * h + r * r));
  const double psx = r * s;
  const double psy = s;
  Notify(5, "CameraTrackingManager::SetCameraAspects: sensor size: %g [mm],  psx, psy: %g, %g [mm]",
         sensorDiagonal, psx, psy);
  if (!PositiveFinite(psx) || !PositiveFinite(psy)) {
    Notify(2, "CameraTrackingManager::SetCameraAspects: zero pixel size (psx,psy)=(%g,%g)", psx,
           psy);
    return;
  }
  m_init_camera->SetPixelSize(psx, psy);
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (image) image->SetPixelSize(psx, psy);
  }
}

void CameraTrackingManager::SetPixelAspects(double pixelAspect, double sensorWidth) {
  if (m_image_list.empty() || !m_image_list.front()) {
    Notify(2, "CameraTrackingManager::SetPixelAspects: no images set");
    return;
  }
  if (!PositiveFinite(pixelAspect)) {
    Notify(2, "CameraTrackingManager::SetPixelAspects: bad pixel aspect %g", pixelAspect);
    return;
  }
  int w = 0;
  int h = 0;
  if (!AspectFrameSize("SetPixelAspects", *m_image_list.front(), m_init_camera.get(), &w, &h)) {
    return;
  }
  const double width = sensorWidth > 0.0 ? sensorWidth : m_init_camera->GetPixelSizeX() * w;
  const double psx = width / double(w);
  const double psy = psx / pixelAspect;
  Notify(5, "CameraTrackingManager::SetPixelAspects: psx, psy: %g, %g,  sensor width: %g [mm]", psx,
         psy, width);
  if (!PositiveFinite(psx) || !PositiveFinite(psy)) {
    Notify(2, "CameraTrackingManager::SetPixelAspects: zero pixel size (psx,psy)=(%g,%g)", psx,
           psy);
    return;
  }
  const double fov = m_init_camera->GetHorizontalFieldOfView();
  m_init_camera->SetPixelSize(psx, psy);
  m_init_camera->SetHorizontalFieldOfView(fov);
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (!image) continue;
    image->SetPixelSize(psx, psy);
    image->SetHorizontalFieldOfView(fov);
  }
}

void CameraTrackingManager::SetInitFocalLength(double focal35) {
  if (!PositiveFinite(focal35)) {
    if (m_image_list.empty() && !m_init_camera) {
      Notify(2,
             "CameraTrackingManager::SetInitFocalLength: no initial camera, and no image list "
             "set");
      return;
    }
    focal35 = DefaultInitFocalLength();
  }
  if (m_init_camera) {
    m_init_camera->SetFocalLength35mmEquivalent(focal35);
  } else {
    Notify(2, "CameraTrackingManager::SetInitFocalLength: no initial camera set");
  }
  for (const SharedPtr<FeatureImage>& image : m_image_list) {
    if (image) image->SetFocalLength35mmEquivalent(focal35);
  }
}

void CameraTrackingManager::InterpolateRadialDistortion() {
  std::vector<size_t> keys;
  for (size_t j = 0; j < m_image_list.size(); ++j) {
    if (m_image_list[j] && m_image_list[j]->TestFlags(FIMAGE_FLAG_LENS_KEY)) keys.push_back(j);
  }
  if (keys.empty()) {
    Notify(5,
           "CameraTrackingManager::InterpolateRadialDistortion: no key frames found, set "
           "k3=k5=0.0");
    for (const SharedPtr<FeatureImage>& image : m_image_list) {
      if (image) image->SetDistortion(0.0, 0.0, image->GetRdDim(), image->GetDistortionModel());
    }
    return;
  }

  for (size_t j = 0; j < keys.front(); ++j) {
    if (m_image_list[j]) TakeDistortion(*m_image_list[j], *m_image_list[keys.front()]);
  }
  for (size_t i = 0; i + 1 < keys.size(); ++i) {
    const FeatureImage& a = *m_image_list[keys[i]];
    const FeatureImage& b = *m_image_list[keys[i + 1]];
    const double* ka = a.GetDistortionCoefficients();
    const double* kb = b.GetDistortionCoefficients();
    const int32_t d = b.GetImageIndex() - a.GetImageIndex();
    for (size_t j = keys[i] + 1; j < keys[i + 1]; ++j) {
      FeatureImage* image = m_image_list[j].Get();
      if (image == nullptr) continue;
      if (d == 0) {
        Notify(2,
               "CameraTrackingManager::InterpolateRadialDistortion: image index difference null");
        continue;
      }
      // Over image indices, not list positions: both agree until frames are recycled.
      const double t = double(image->GetImageIndex() - a.GetImageIndex()) / double(d);
      image->SetDistortion(ka[0] + t * (kb[0] - ka[0]), ka[1] + t * (kb[1] - ka[1]), a.GetRdDim(),
                           a.GetDistortionModel());
    }
  }
  for (size_t j = keys.back() + 1; j < m_image_list.size(); ++j) {
    if (m_image_list[j]) TakeDistortion(*m_image_list[j], *m_image_list[keys.back()]);
  }
}

void CameraTrackingManager::GetRadialDistortionParameter(RadialDistortionParameters* out,
                                                         unsigned position) const {
  if (out == nullptr || position >= m_image_list.size() || !m_image_list[position]) return;
  m_image_list[position]->GetRadialDistortionParameters(*out);
}
