// FileIO: the one entry to every export. The export page and the end of a batch run
// call SaveCameraTrackingManager (3D camera paths and CAHV camera files) or Save2DTrack
// (2D point and track files) with a tracking manager, an output directory and file name
// and an export type code:
//    1 text            2 3ds Max        3 dotXSI        4 Maya          5-7 Blender
//    8 LightWave       9 trueSpace     10 CAHV per image  11 CAHV, one file
//   13 2D points per image (Save2DTrack)  14 2D track text file (Save2DTrack)
//   15 COLLADA  16 Carrara  19/20 Houdini  21 FBX  22/23 2D tracks  24 Modo
// Writer codes not built yet, 12, 17, 18 and codes outside the table are logged as not
// supported and write nothing.
//
// Frame range: 3D writers get the cameras of every image whose image index lies in the
// manager's [first, last] (the step is not applied); the per-image files and the one-file
// CAHV export visit first, first + |step|, ... up to last (a step of 0 counts as 1).
// Per-image names come from a template whose run of '#' becomes the image's file index,
// zero-padded to the run's length; the rest of the name is taken literally.
//
// Failures are thrown as constant texts: a null file name ("FileIO::SaveCameraTracking
// Manager: file name not set"), a file that cannot be created or written ("FileIO::
// SaveCameraTrackingManager: saving failed"), a range beyond the image list for the
// per-image files, an empty camera list (from SaveCamPath::Save). Every one is logged
// first. The boolean results say whether anything was written.
//
// GUI thread (or the batch end); the 3D points are read under the feature map's read
// lock, so a viewer drawing them at the same time is safe.
#pragma once

#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/runtime/shared_ptr.h"

class CameraTrackingManager;
class FeaturePoint2D;
class NHSObject;

namespace FileIO {

// The camera path and 3D points of the manager in the format of type. True when the
// export was written; false (after a level-2 line) for a type that writes nothing here,
// or when the manager has no feature map. directory may be null. scene_objects is the
// root of the job's scene tree, whose user objects the COLLADA and trueSpace writers add
// (null: cameras and points only); the caller that owns the scene passes it.
bool SaveCameraTrackingManager(CameraTrackingManager* manager, const char* directory,
                               const char* file_name, int type,
                               const NHSObject* scene_objects = nullptr);

// The 2D exports of the manager: 13 per-image point files, 14 the track text file, 22
// (Silhouette) and 23 (After Effects) the track of feature, keyed at the feature map's
// frame rate (25 without a map). True when written.
bool Save2DTrack(CameraTrackingManager* manager, const char* directory, const char* file_name,
                 int type, FeaturePoint2D* feature);

// One CAHV camera file per image of the range, named from file_template.
void SaveCameraTrackingManagerCAHV(CameraTrackingManager* manager, const char* file_template,
                                   int first, int last, int step);
// Every camera of the range into one file, one ";CAHV" block after another. Indices
// beyond the image list are logged and skipped.
void SaveCameraTrackingManagerCAHVtxtfile(CameraTrackingManager* manager, const char* file_name,
                                          int first, int last, int step);
// One 2D point file per image of the range, named from file_template.
void SaveCameraTrackingManagerFeaturePoints(CameraTrackingManager* manager,
                                            const char* file_template, int first, int last,
                                            int step);
// The 2D track text file: per visited image one line per feature (anchors excluded):
// "number x y predecessor-number image-index predecessor-image-index", -1 for no
// predecessor. Each feature's number is stored as its track number as it is written, so
// a predecessor's number is the one written for it when its image came earlier in the
// file (else whatever it held before).
void SaveFeatureTracksText(CameraTrackingManager* manager, const char* file_name, int first,
                           int last, int step);

// Replaces out's contents by the images whose image index lies in [first, last] of the
// manager's frame range, in list order; returns their number (0 for a null out or
// manager).
int CollectImagesInRange(std::vector<SharedPtr<FeatureImage>>* out, CameraTrackingManager* manager);

// The name for one image: the run from the first to the last '#' of file_template
// replaced by number, zero-padded to the run's length; a template without '#' is the
// name for every number.
std::string NumberedFileName(const std::string& file_template, int number);

}  // namespace FileIO

// Splits at the last '.': base name before it, extension after it (without the dot);
// without a dot the base name is the whole text and the extension is empty.
void SplitFileExtension(const std::string& file_name, std::string* base_name,
                        std::string* extension);
