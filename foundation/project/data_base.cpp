#include "foundation/project/data_base.h"

#include "foundation/project/data_base_in.h"
#include "foundation/runtime/notify.h"

void DataBase::RestoreObject(DataBaseIn& in) {
  if (in.IsBinary()) {
    if (in.GetByte() != PF_OBJECT_BEGIN) throw "DataBase::RestoreObject: missing separator";
    for (;;) {
      uint8_t id = in.GetByte();
      if (id == PF_OBJECT_END) return;
      in.SetFieldId(id);
      if (!CheckForField(in, nullptr)) {
        Notify(2, "DataBase::RestoreObject unknown: field id 0x%02x", static_cast<unsigned>(id));
        in.SkipObject();
      }
    }
  }
  in.SkipWhitespace();
  if (in.GetByte() != '{') throw "DataBase::RestoreObject: missing separator";
  char key[PF_MAX_KEY + 1];
  for (;;) {
    if (in.GetAToken(key, sizeof key) == 0 && in.AtEnd()) throw "unexpected end of file";
    if (key[0] == '}' && key[1] == '\0') return;
    if (!CheckForField(in, key)) {
      Notify(2, "DataBase::RestoreObject skip unknown: field %s", key);
      in.SkipObject();
    }
  }
}

bool DataBase::CheckForField(DataBaseIn&, const char*) {
  throw "DataBase::CheckForField: has to be implemented for the derived class";
}
