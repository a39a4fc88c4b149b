#pragma once

// The project-file interface of every stored class.
//
// RestoreObject reads one object body ("{" fields "}" in ascii, 0x10 fields 0x11 in
// binary) and hands each field to CheckForField, which the stored class overrides:
//
//   bool MyClass::CheckForField(DataBaseIn& in, const char* key) {
//     if (in.IsField(key, PF_KEY_VEC2)) { in.GetVec2(xy); return true; }
//     if (in.IsField(key, PF_KEY_FP2D)) { child.RestoreObject(in); ...; return true; }
//     return Base::CheckForField(in, key);   // or false for an unknown field
//   }
//
// In ascii mode `key` is the field's name; in binary mode it is null and the field is
// in.GetFieldId(). A handler returns true after reading the field's values and false,
// without reading anything, for a field it does not know: RestoreObject then logs the
// field (level 2) and skips its value. Errors are thrown as constant texts.

class DataBaseIn;

class DataBase {
 public:
  virtual ~DataBase() = default;

  // Reads one object body into this object. Throws "DataBase::RestoreObject: missing
  // separator" when the object does not start with its opening mark.
  virtual void RestoreObject(DataBaseIn& in);

  // Reads the values of one field and returns true, or returns false for a field it does
  // not know. This base version throws
  // "DataBase::CheckForField: has to be implemented for the derived class".
  virtual bool CheckForField(DataBaseIn& in, const char* key);
};
