#include "features/correspondence_dump.h"

#include <fstream>
#include <locale>

#include "foundation/runtime/notify.h"

int FeatureCorrespondenceIO::Save(const FeatureCorrelator* correlator, const char* name) {
  if (correlator == nullptr) {
    Notify(2, "FeatureCorrespondenceIO::Save: input corr==NULL");
    return 0;
  }
  if (name == nullptr) {
    Notify(2, "FeatureCorrespondenceIO::Save: input name==NULL");
    return 0;
  }
  return Save(correlator->GetCorrespondences(), name);
}

int FeatureCorrespondenceIO::Save(const t_ListFCorr& list, const char* name) {
  if (name == nullptr) {
    Notify(2, "FeatureCorrespondenceIO::Save: input name==NULL");
    return 0;
  }
  std::ofstream out(name, std::ios::out | std::ios::trunc);
  if (!out.is_open()) {
    Notify(2, "FeatureCorrespondenceIO::Save: open file \"%s\" failed !", name);
    return 0;
  }
  out.imbue(std::locale::classic());
  Notify(4, "FeatureCorrespondenceIO::Save: saving %d correspondences to file \"%s\".",
         static_cast<int>(list.size()), name);
  out << "#FCORR V1.0\n";
  for (const SharedPtr<FeatureCorrespondence>& link : list) {
    if (link) out << *link;
    out << '\n';
  }
  out.close();
  if (out.fail()) {
    Notify(2, "FeatureCorrespondenceIO::Save: writing file \"%s\" failed !", name);
    return 0;
  }
  Notify(4, "done.");
  return 1;
}
