#pragma once

// Flag bits of 2D features, 3D points, feature images and correspondences.
// Where two parts of the program use one bit for different purposes, each use has its
// own name here, so that a reader sees the overlap.

#include <cstdint>

// FeaturePoint2D flags.
enum : uint32_t {
  FP2D_FLAG_COVARIANCE = 0x2,  // a covariance was assigned (SetCoVariance)
  FP2D_FLAG_NEW_TRACK = 0x4,   // track start made by a correlator (new corner, no predecessor)
  FP2D_FLAG_MANUAL = 0x8,      // placed or moved by the user
  // On the clicked frame of a manual add over several frames; the track interpolation
  // keeps such features as its keys.
  FP2D_FLAG_CLICKED_FRAME = 0x10,
  FP2D_FLAG_KEY_FEATURE = FP2D_FLAG_CLICKED_FRAME,
  FP2D_FLAG_TO_TRACK = 0x20,  // tagged for tracking of user-tagged features
  FP2D_FLAG_ANCHOR = 0x40,    // locator-tool point, kept in the image's anchor list
  FP2D_FLAG_QUOTA = 0x1000,   // in the image's quota of good features; carried to successors
};

// FeaturePoint3D flags.
enum : uint32_t {
  FP3D_FLAG_REMOVED = 0x2,  // no longer part of the solution
  // Set by the track interpolation on a point it moves to a new position.
  FP3D_FLAG_INTERPOLATED = 0x8,
  FP3D_FLAG_NO_EXPORT = 0x20,  // excluded from export
  // Set by the scene on the points seen in the image its camera object shows.
  FP3D_FLAG_SEEN = 0x40,
  FP3D_FLAG_TEMP_MARK = 0x80,  // temporary mark while a feature map thins its point list
  // Locator (user) point: never excluded from export, protected from the solver's
  // point removal and selection.
  FP3D_FLAG_LOCATOR = 0x100,
  FP3D_FLAG_PROTECTED = FP3D_FLAG_LOCATOR,
  FP3D_FLAG_FROM_MANUAL = 0x200,  // triangulated from a manual 2D feature
};

// FeaturePoint3D state word 0 (GetStateWord(0)), kept by the 3D point update.
enum : uint32_t {
  FP3D_STATE_REMOVED_BY_UPDATE = 0x1,  // removed for its reprojection error
  FP3D_STATE_KEY_FRAME_PARTNER = 0x4,  // linked to a key-frame partner
};

// FeatureImage flags.
enum : uint32_t {
  // The frame's camera is not estimated; the interaction layer reads the same bit as
  // "not yet processed by the running tracking step".
  FIMAGE_FLAG_NOT_ESTIMATED = 0x8,
  FIMAGE_FLAG_NOT_PROCESSED = FIMAGE_FLAG_NOT_ESTIMATED,
  FIMAGE_FLAG_SAVE_CORRESPONDENCES = 0x8000,  // dump the frame's correspondences
  FIMAGE_FLAG_LENS_KEY = 0x10000,             // lens key frame whose distortion the user set
};

// FeatureCorrespondence flags (support states of a link).
enum : uint32_t {
  FCORR_SUPPORT_TRUE = 0x1,       // inlier of the current estimation
  FCORR_SUPPORT_ROTATION = 0x20,  // inlier of the pan/tilt/roll/zoom estimation
  FCORR_SUPPORT_FREEMOVE = 0x40,  // inlier of a projection-matrix test
  FCORR_FLAGS_USER_LINK = 0x61,   // a link the user made
};
