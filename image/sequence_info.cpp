#include "image/sequence_info.h"

void SequenceInfo::Clear() {
  *this = SequenceInfo();
}

SequenceInfo& SequenceInfo::Instance() {
  static SequenceInfo info;
  return info;
}
