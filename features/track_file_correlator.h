// FeatureCorrelatorReadFT2DFile: a correlator that takes its 2D features and their
// frame-to-frame links from a 2D track text file (extension "ft2d") instead of tracking
// them in the images.
//
// File: one feature per line, fields separated by blanks:
//   number x y predecessor image predecessor_image [flag]
// number counts the features of one image from 0 (a line numbered 0 starts the next
// image's block); x, y are pixels; predecessor is the number of the feature in the
// previous image's list (negative: none); flag 1 marks the feature FP2D_FLAG_QUOTA. Lines
// of six fields (the program's own 2D track export) read with flag 0. Numbers are read in
// the C notation whatever the locale; lines end with LF or CR LF; a line holds at most 2047
// characters.
//
// The file is read forward only and stays open between calls: images must be asked about
// in increasing order starting with the pair (0, 1), which (re)opens it; a pair whose first
// image was never read reads that block first. The end of the file or a malformed line
// closes it; later calls create nothing until (0, 1) opens it again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "features/feature_correlator.h"

class FeatureCorrelatorReadFT2DFile : public FeatureCorrelator {
 public:
  FeatureCorrelatorReadFT2DFile();
  // Closes the file.
  ~FeatureCorrelatorReadFT2DFile() override;

  // The track file to read (taken when the pair (0, 1) opens it).
  void SetPath(const char* path) { path_ = path ? path : ""; }
  const char* GetPath() const { return path_.c_str(); }

  // Reads the second image's block onto it, linked to the first image's features; returns
  // the number of links made (0 without a second image). The correspondence list holds
  // this call's links.
  int32_t Compute() override;
  // Refuses (the shared reading position cannot be cloned): logs and returns an empty
  // handle.
  SharedPtr<FeatureCorrelator> Clone() override;

  // Reads the features of second (and, when needed, first) from the file; first may be null
  // (no links).
  void ReadFeatures(FeatureImage* first, FeatureImage* second);

  // Counters of the last ReadFeatures.
  uint32_t GetTrackedCount() const { return tracked_; }
  uint32_t GetLostFeatureCount() const { return lost_; }
  uint32_t GetReadCount() const { return read_; }

 private:
  struct Line {
    int32_t number = -2;
    double x = 0.0;
    double y = 0.0;
    int32_t predecessor = -1;
    int32_t image = -1;
    int32_t predecessor_image = -1;
    int32_t flag = -1;
  };

  // The next line into the look-ahead; its number, or -1 (look-ahead reset) when the file
  // ends or the line is short or malformed.
  int32_t ReadLine();
  void CloseFile();

  std::string path_;
  std::FILE* file_ = nullptr;
  int32_t last_index_ = -1;
  Line line_;
  uint32_t tracked_ = 0;
  uint32_t lost_ = 0;
  uint32_t read_ = 0;
};
