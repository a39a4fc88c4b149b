#include "foundation/project/project_root.h"

#include <gtest/gtest.h>

#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::ProjectBytes;
using kxtest::TempFile;
using kxtest::Thrown;

// A root block with an empty manager object and n scene items, each holding one field.
std::string Root(bool binary, int n, bool closed) {
  ProjectBytes w(binary);
  w.Begin(PF_KEY_KLX);
  w.Begin(PF_KEY_CTRACKMGR).End();
  for (int i = 0; i < n; ++i) w.Begin(PF_KEY_OBJ3D).Key(PF_KEY_ID).Int(i).Eol().End();
  if (closed) w.End();
  return w.bytes();
}

TEST(ProjectRootTest, SceneItemsFollowTheManagerUntilTheRootEnds) {
  for (bool binary : {false, true}) {
    for (int n : {0, 2}) {
      SCOPED_TRACE(std::to_string(binary) + " " + std::to_string(n));
      TempFile file(Root(binary, n, true));
      DataBaseIn in;
      in.Open(file.path());
      ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_KLX));
      if (!binary) in.SkipWhitespace();
      in.GetByte();  // the root's opening mark
      ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_CTRACKMGR));
      in.SkipObject();
      int items = 0;
      while (!AtBlockEnd(in)) {
        ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_OBJ3D));
        in.SkipObject();
        ++items;
      }
      EXPECT_EQ(items, n);
      EXPECT_EQ(in.GetByte(), binary ? 0x11 : '}');  // left for the loader to consume
    }
  }
}

TEST(ProjectRootTest, AnUnclosedRootIsAnError) {
  for (bool binary : {false, true}) {
    TempFile file(Root(binary, 1, false));
    DataBaseIn in;
    in.Open(file.path());
    kxtest::ReadObjectKey(in, PF_KEY_KLX);
    if (!binary) in.SkipWhitespace();
    in.GetByte();
    kxtest::ReadObjectKey(in, PF_KEY_CTRACKMGR);
    in.SkipObject();
    EXPECT_EQ(Thrown([&] {
                while (!AtBlockEnd(in)) {
                  kxtest::ReadObjectKey(in, PF_KEY_OBJ3D);
                  in.SkipObject();
                }
              }),
              "unexpected end of file");
  }
}

}  // namespace
