// Project files of the tracker: the root block "KLX" around the tracking job and the
// scene's user objects.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/project_format.h"
#include "foundation/project/project_root.h"
#include "foundation/runtime/notify.h"
#include "interaction/meta_ctracker.h"
#include "platform/replace_file.h"
#include "scene/objects/obj3d.h"
#include "tracking/storage/project_writer.h"

namespace uic {

namespace {

// Removes the temporary file of a save unless the save committed it.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// The root block's opening: binary 0x08 0x10, text "KLX" and "{".
void ReadRootOpening(DataBaseIn& in) {
  if (in.IsBinary()) {
    if (in.GetByte() != PF_KEY_KLX.id) throw "KLX ID expected";
    if (in.GetByte() != PF_OBJECT_BEGIN) throw "start separator expected";
    return;
  }
  char token[16];
  try {
    in.GetAToken(token, sizeof token);
  } catch (const char*) {
    throw "KLX id expected";  // a token too long for the buffer is no root key either
  }
  if (std::strcmp(token, PF_KEY_KLX.name) != 0) throw "KLX id expected";
  in.SkipWhitespace();
  if (in.GetByte() != '{') throw "missing {";
}

// Puts the objects a load added (each at the front of the child list) back into the
// order of the file, so that saving the loaded project writes the same bytes again.
void RestoreFileOrder(NHSObject& root, const std::vector<NHSObject*>& loaded) {
  for (NHSObject* object : loaded) object->Unlink();
  for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) root.AddChild(*it);
}

}  // namespace

bool MetaCTracker::SaveProject(const char* path, bool ascii) {
  if (path == nullptr) {
    Notify(2, "MetaCTracker::SaveProject: name is Null");
    return false;
  }
  Notify(4, "MetaCTracker::SaveProject: save %s project file \"%s\"!", ascii ? "ascii" : "binary",
         path);
  // The previous project stays untouched until the new one is complete.
  std::string temp_path;
  if (!platform::CreateTempFileFor(path, &temp_path)) {
    Notify(2, "MetaCTracker::SaveProject: open \"%s\" failed!", path);
    return false;
  }
  TempFile temp(temp_path);
  DataBaseOut out;
  if (!out.Open(temp.path().c_str(), ascii ? 'a' : 'b')) {
    Notify(2, "MetaCTracker::SaveProject: open \"%s\" failed!", path);
    return false;
  }
  out.BeginRoot();
  if (const int result = WriteCTrackMgr(out, *this) ? 1 : 0; result != 0) {
    Notify(5, "MetaCTracker::SaveCurrentProject: Save succeed (returns %d)", result);
  }
  Scene3D::WriteObj3D(m_scene, out);  // the user objects and the root's closing mark
  if (!out.Close()) {
    Notify(2, "MetaCTracker::SaveProject: writing \"%s\" failed!", path);
    return false;
  }
  if (!platform::ReplaceFile(temp.path(), path)) {
    Notify(2, "MetaCTracker::SaveProject: replacing \"%s\" failed!", path);
    return false;
  }
  temp.Keep();
  return true;
}

bool MetaCTracker::LoadProject(const char* path, NHSObjectFactory factory) {
  if (path == nullptr) {
    Notify(2, "MetaCTracker::LoadProject: name is Null");
    return false;
  }
  DataBaseIn in;
  std::vector<NHSObject*> loaded;
  const char* error = nullptr;
  std::string what;
  try {
    in.Open(path);
    ReadRootOpening(in);
    Read(in);
    Notify(5, "MetaCTracker::LoadProject: Load Project: load %d images",
           int(GetImageList().size()));
    if (RestoreImageList() != 0) throw "unable to load image(s)";
    m_scene.SetData(this);
    while (!AtBlockEnd(in)) {
      Scene3D::LoadObject(m_scene, in, factory);
      loaded.push_back(m_scene.GetFirstChild());
    }
  } catch (const char* text) {
    error = text;
  } catch (const std::bad_alloc&) {
    // A damaged count must not end the program: it fails like any other format error.
    error = "out of memory";
  } catch (const std::exception& e) {
    what = e.what();
    error = what.c_str();
  }
  RestoreFileOrder(m_scene, loaded);
  in.Close();
  if (error == nullptr) return true;
  Notify(2, "MetaCTracker::LoadProject: \"%s\"\nfailed with error: %s in line %ld", path, error,
         in.GetLine());
  return false;
}

}  // namespace uic
