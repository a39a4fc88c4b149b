#pragma once

// The project-file reader: header check, mode, typed value readers.
//
// Use: Open(path) checks the header and leaves the reader at the first byte of the body;
// the loader reads the root block's start, then Read(manager) restores the tracking job;
// each stored class reads its own object with DataBase::RestoreObject and its
// CheckForField. Every format error throws a constant text (const char*); the line
// counter (GetLine) tells where. A reader serves one file.

#include <cstdint>

#include "foundation/project/file_scanner.h"
#include "foundation/project/project_format.h"

class DataBaseIn : public FileScanner {
 public:
  // Opens the file and checks the header (see project_format.h). Throws
  // "open: could not open file", "DataBaseIn::Open: wrong magic number",
  // "DataBaseIn::Open: Version missing", "DataBaseIn::Open: wrong version" (anything but
  // 1.0), "DataBaseIn::Open: Mode missing", "DataBaseIn::Open: unknown Mode", and in
  // binary mode "DataBaseIn::Open: Endianness missing", "DataBaseIn::Open: unknown
  // Endian", "DataBaseIn::Open: LF missing". Header lines may end with LF or CR LF.
  void Open(const char* path);

  // Restores the "CTrackMgr" object into `manager`: checks its identifier (else throws
  // "DataBaseIn::Read: unexpected ident"), then manager.Clear(),
  // manager.RestoreObject(*this) and manager.PostProcessDataBaseIn().
  template <class Manager>
  void Read(Manager& manager) {
    ReadRootIdent();
    manager.Clear();
    manager.RestoreObject(*this);
    manager.PostProcessDataBaseIn();
  }

  bool IsBinary() const { return binary_; }
  bool IsBigEndian() const { return big_endian_; }  // a label only; no read depends on it
  double GetVersion() const { return version_; }

  // The identifier of the field being read (binary mode).
  uint8_t GetFieldId() const { return field_id_; }
  void SetFieldId(uint8_t id) { field_id_ = id; }

  // True when the field handed to a CheckForField is `key`: in binary mode (key null)
  // the current field identifier is compared, in ascii mode the key text. Keys that exist
  // in ascii files only never match in binary mode.
  bool IsField(const char* key, const ProjectKey& expected) const;

  // Reads an identifier byte (ascii: after whitespace).
  uint8_t GetIdentifier();

  // Typed values in the file's mode.
  int32_t GetInt();
  double GetFloat();
  // n reals (binary: n singles in one block).
  void GetFloats(double* out, int n);
  void GetVec2(double out[2]) { GetFloats(out, 2); }
  void GetVec3(double out[3]) { GetFloats(out, 3); }
  void GetVec4(double out[4]) { GetFloats(out, 4); }
  // A text into buffer (size >= 1): ascii between double quotes (a missing opening quote
  // throws "DataBaseIn::GetString: missing \""), binary up to a zero byte. A longer text
  // is cut to size - 1 characters; the rest is consumed. Returns the stored length.
  int GetString(char* buffer, int size);

  // Skips the value of a field nobody understood. Binary: the value must be an object
  // (0x10 ... 0x11, marks counted); any other value has no length to skip by and throws
  // "DataBaseIn::SkipObject: unknown binary field is not an object". The count is exact
  // only when no value byte inside the object equals 0x10 or 0x11. Ascii (after
  // whitespace): a block "{" ... "}" (marks counted, quoted texts inside stepped over), a
  // quoted text, or else one token (at least one byte; a "}" is left to close its object).
  void SkipObject();

 private:
  void ReadRootIdent();
  void SkipQuoted();
  void SkipToken();

  double version_ = 0;
  uint8_t field_id_ = 0;
  bool binary_ = false;
  bool big_endian_ = false;
};
