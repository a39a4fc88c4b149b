// FeatureCorrespondenceIO: writes the correspondences of one frame step as a text file
// for inspection outside the program:
//
//   #FCORR V1.0
//   x0<TAB>y0<TAB>x1<TAB>y1<TAB>score        one line per list entry, in list order
//
// x0, y0 is the earlier feature (lower frame index), x1, y1 the later one, in pixels; the
// score is the link's float score. Numbers use the default stream format (general
// notation, 6 significant digits, '.' whatever the locale). A link with a missing end
// gives an empty line. Lines end with LF. The file is created or truncated.
#pragma once

#include "features/feature_correlator.h"

class FeatureCorrespondenceIO {
 public:
  // Writes the correlator's correspondence list. 1 on success; 0 for a null correlator or
  // name (level 2) and as the list form below.
  static int Save(const FeatureCorrelator* correlator, const char* name);
  // Writes the list. 0 when the file cannot be opened or written (level 2; a partly
  // written file may remain), else 1.
  static int Save(const t_ListFCorr& list, const char* name);
};
