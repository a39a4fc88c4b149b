#pragma once

// The camera parameter mask: which parameters of a camera a resection (the camera
// estimators) or a bundle adjustment (the sparse models and the adjusters) frees. A
// parameter whose bit is clear keeps the camera's stored value. The bit values are
// stored in settings and passed between the floors, so they never change.

#include <cstdint>

enum : uint32_t {
  kCamFocal = 0x2,              // focal length (mm)
  kCamPrincipalX = 0x4,         // principal point x (mm)
  kCamPrincipalY = 0x8,         // principal point y (mm)
  kCamProjectionMatrix = 0x10,  // a free 3x4 projection matrix (free motion only)
  kCamUnusedBit11 = 0x800,      // in the models' and the interleaved adjuster's defaults;
                                // nothing tests it, it only keeps those values as they were
  kCamTilt = 0x2000,            // radians
  kCamPan = 0x4000,             // radians
  kCamRoll = 0x8000,            // radians
  kCamCentreX = 0x10000,        // mm
  kCamCentreY = 0x20000,        // mm
  kCamCentreZ = 0x40000,        // mm
};

// Groups and the named defaults.
inline constexpr uint32_t kCamPrincipalPoint = kCamPrincipalX | kCamPrincipalY;
inline constexpr uint32_t kCamOrientation = kCamPan | kCamTilt | kCamRoll;
inline constexpr uint32_t kCamCentre = kCamCentreX | kCamCentreY | kCamCentreZ;
inline constexpr uint32_t kCamPose = kCamOrientation | kCamCentre;  // 0x7E000
// Every parameter a resection can estimate (0x7E00E).
inline constexpr uint32_t kCamAllParameters = kCamPose | kCamFocal | kCamPrincipalPoint;
// BundleAdjusterSparse's default: pose and focal length (0x7E002).
inline constexpr uint32_t kCamMaskAdjusterDefault = kCamPose | kCamFocal;
// The sparse models' defaults: rotation only (0xE802) and free motion (0x7E802).
inline constexpr uint32_t kCamMaskRotationModelDefault =
    kCamOrientation | kCamFocal | kCamUnusedBit11;
inline constexpr uint32_t kCamMaskMotionModelDefault = kCamPose | kCamFocal | kCamUnusedBit11;

static_assert(kCamPose == 0x7E000 && kCamAllParameters == 0x7E00E);
static_assert(kCamMaskAdjusterDefault == 0x7E002 && kCamMaskRotationModelDefault == 0xE802 &&
              kCamMaskMotionModelDefault == 0x7E802);

// The same bits under the names the sparse adjustment's code and tests use.
struct SparseCameraMask {
  static constexpr unsigned kFocal = kCamFocal;
  static constexpr unsigned kPrincipalX = kCamPrincipalX;
  static constexpr unsigned kPrincipalY = kCamPrincipalY;
  static constexpr unsigned kProjection = kCamProjectionMatrix;
  static constexpr unsigned kTilt = kCamTilt;
  static constexpr unsigned kPan = kCamPan;
  static constexpr unsigned kRoll = kCamRoll;
  static constexpr unsigned kCentreX = kCamCentreX;
  static constexpr unsigned kCentreY = kCamCentreY;
  static constexpr unsigned kCentreZ = kCamCentreZ;
};
