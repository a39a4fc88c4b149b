#include "foundation/project/project_root.h"

#include "foundation/project/data_base_in.h"

bool AtBlockEnd(DataBaseIn& in) {
  if (in.IsBinary()) return *in.Peek(1) == PF_OBJECT_END;
  in.SkipWhitespace();
  return *in.Peek(1) == '}';
}
