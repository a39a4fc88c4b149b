// The tracker as the description of its image sequence: taking a new image list, deriving
// the description from the first image, applying the user's changes, and the export limit.
#include <cmath>

#include "foundation/camera/known_image_format.h"
#include "foundation/runtime/notify.h"
#include "image/packed_string_list.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "tracking/maps/feature_map.h"

namespace uic {

namespace {

constexpr double kSensorDiagonalMm = 16.0;

// The image cache's field mode of interlacing modes 0 .. 4, and whether the mode sets the
// field-order flag (0: leaves it).
struct Interlacing {
  int field_mode;
  int top_field_first;  // 1 set, 0 cleared, -1 unchanged
};
constexpr Interlacing kInterlacing[5] = {{0, -1}, {4, 1}, {4, 0}, {5, 1}, {5, 0}};

}  // namespace

int MetaCTracker::SetSequence(SharedPtr<PackedStringList> list) {
  if (!list) {
    Notify(2, "MetaCTracker::SetSequence: list with image names Null");
    return 1;
  }
  if (list->Count() == 0) {
    Notify(5, "MetaCTracker::SetSequence: list with image names empty");
    return 1;
  }
  const int code = SetImageFileList(list);
  if (code != 0) return code;
  ClearUndoStack();
  m_scene.ClearData();
  ClearAllFPointsAndResetFMap(kClearAllTrackingData);
  if (GetInitCamera() == nullptr) Notify(2, "MetaCTracker::SetSequence: initial camera not set");
  m_scene.SetData(this);
  UpdateSequenceProperty();
  return 0;
}

void MetaCTracker::UpdateSequenceProperty() {
  if (GetImageList().empty() || !GetImageList()[0]) return;
  const FeatureImage& image = *GetImageList()[0];
  m_width = int32_t(image.GetWidth());
  m_height = int32_t(image.GetHeight());

  double pixel_aspect = 1.0, frame_aspect = 1.0, frame_rate = 25.0;
  const char* name = FindKnownImageFormat(uint32_t(m_width), uint32_t(m_height), pixel_aspect,
                                          frame_aspect, frame_rate);
  if (name != nullptr) {
    m_pixel_aspect = pixel_aspect;
    m_image_aspect = frame_aspect;
    m_frame_rate = frame_rate;
  }
  Notify(3,
         "MetaCTracker::UpdateSequenceProperty: \"%s\", resolution %d x %d, image aspect %g, "
         "pixel aspect %g, frame rate %g Hz",
         name ? name : "no name", m_width, m_height, m_image_aspect, m_pixel_aspect, m_frame_rate);
  // In floating point: 720 x 576 is 1.25, not 1.
  const double size_aspect = m_height > 0 ? double(m_width) / double(m_height) : 1.0;
  if (name == nullptr) {
    m_pixel_aspect = 1.0;
    m_image_aspect = size_aspect;
  }
  m_sensor_aspect = m_pixel_aspect * size_aspect;
  if (std::fabs(m_sensor_aspect - m_image_aspect) < 0.0001) m_sensor_aspect = m_image_aspect;
  Notify(5, "MetaCTracker::UpdateSequenceProperty: sensor aspect %g", m_sensor_aspect);
  if (m_image_aspect != m_sensor_aspect) {
    Notify(4,
           "MetaCTracker::UpdateSequenceProperty: image aspect != sensor aspect (%g, %g), "
           "anamorph not supported",
           m_image_aspect, m_sensor_aspect);
  }
  if (GetInitCamera() != nullptr) {
    SetCameraAspects(m_sensor_aspect, kSensorDiagonalMm);
  } else {
    Notify(2,
           "MetaCTracker::UpdateSequenceProperty: can't get initial camera from tracking manager");
  }
  m_interlacing = 0;
  m_num_frames = int32_t(GetImageCache()->GetNumFrames());
  m_anamorphic = false;
  m_sensor_diagonal = image.GetDiagonalSensorSize();
  m_sensor_width = image.GetSensorWidth();
  m_sensor_height = image.GetSensorHeight();
  if (image.GetPixelSizeY() != 0.0) m_pixel_aspect = image.GetPixelSizeX() / image.GetPixelSizeY();
}

bool MetaCTracker::SetSequenceProperty(const SequenceProperty& p) {
  bool changed = false;
  bool rebuild = false;
  ImageCache& cache = *GetImageCache();
  Notify(5, "MetaCTracker::SetSequenceProperty: selected interlacing %d", p.m_interlacing);
  if (p.m_interlacing != m_interlacing) {
    m_interlacing = p.m_interlacing;
    if (m_interlacing >= 0 && m_interlacing <= 4) {
      const Interlacing& mode = kInterlacing[m_interlacing];
      cache.SetFieldMode(mode.field_mode);
      const bool top = mode.top_field_first == 1;
      if (mode.top_field_first >= 0 && cache.TopFieldFirst() != top) {
        cache.SetTopFieldFirst(top);
        cache.ClearCache();
      }
    } else {
      // Stored, but the field mode stays: a negative mode is as unknown as one above 4.
      Notify(2, "MetaCTracker::SetSequenceProperty: unkown deinterlacing method: %d",
             m_interlacing);
    }
    m_num_frames = int32_t(cache.GetNumFrames());
    rebuild = true;
    changed = true;
  }
  if (p.m_anamorphic != m_anamorphic) {
    m_anamorphic = p.m_anamorphic;
    changed = true;
  }

  double sensor_aspect = p.m_sensor_aspect;
  Notify(7, "MetaCTracker::SetSequenceProperty: image aspect %g %g", m_image_aspect,
         p.m_image_aspect);
  if (p.m_image_aspect != m_image_aspect) {
    Notify(6, "MetaCTracker::SetSequenceProperty: image aspect %g %g", m_image_aspect,
           p.m_image_aspect);
    m_image_aspect = p.m_image_aspect;
    if (!m_anamorphic) sensor_aspect = p.m_image_aspect;
    changed = true;
  }
  if (sensor_aspect != m_sensor_aspect) {
    m_sensor_aspect = sensor_aspect;
    SetCameraAspects(sensor_aspect, kSensorDiagonalMm);
    if (!m_anamorphic) m_image_aspect = sensor_aspect;
    changed = true;
  }

  if (!GetImageList().empty() && GetImageList()[0]) {
    const FeatureImage& image = *GetImageList()[0];
    if (image.GetPixelSizeY() != 0.0) {
      m_pixel_aspect = image.GetPixelSizeX() / image.GetPixelSizeY();
    }
    if (p.m_sensor_diagonal != m_sensor_diagonal) {
      const double diagonal = image.GetDiagonalSensorSize();
      if (diagonal > 0.0) m_sensor_diagonal = diagonal;
    }
    m_sensor_width = image.GetSensorWidth();
    m_sensor_height = image.GetSensorHeight();
    if (int32_t(image.GetWidth()) != m_width || int32_t(image.GetHeight()) != m_height) {
      m_width = int32_t(image.GetWidth());
      m_height = int32_t(image.GetHeight());
      changed = true;
    }
  }

  if (p.m_frame_rate != m_frame_rate) {
    m_frame_rate = p.m_frame_rate;
    if (SharedPtr<FeatureMap> map = GetFeatureMap()) map->SetFrameRate(float(m_frame_rate));
    changed = true;
  }

  if (rebuild) {
    ClearUndoStack();
    m_scene.ClearData();
    ClearAllFPointsAndResetFMap(kClearAllTrackingData);
    SetImageFileList(SharedPtr<PackedStringList>());
    m_scene.SetData(this);
  }
  m_message_signal.Emit(*this, eMsgDataChanged);
  return changed;
}

void MetaCTracker::LimitNumFPoint3DExport(int n) {
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if (!map) {
    Notify(5, "MetaCTracker::LimitNumFPoint3DExport: feature map not set!");
    return;
  }
  PushCommand(new LimitNumFPoint3DExportCmd(this));
  map->MarkFPoint3DExport(n);
  m_scene.SetFPoints3D(map);
  m_message_signal.Emit(*this, eMsgDataChanged);
}

}  // namespace uic
