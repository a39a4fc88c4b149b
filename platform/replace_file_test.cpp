#include "platform/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "testing/temp_dir.h"

namespace {

TEST(ReplaceFileTest, TempFilesAreNewAndTheRenameKeepsTheTargetsPermissions) {
  kxtest::TempDir dir;
  const std::string target = dir.File("project.klx");
  kxtest::WriteFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);

  std::string a, b;
  ASSERT_TRUE(platform::CreateTempFileFor(target, &a));
  ASSERT_TRUE(platform::CreateTempFileFor(target, &b));
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(target + ".~", 0), 0u);
  kxtest::WriteFile(a, "new");
  ASSERT_TRUE(platform::ReplaceFile(a, target));
  EXPECT_EQ(kxtest::ReadText(target), "new");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  std::remove(b.c_str());

  std::string c;
  EXPECT_FALSE(platform::CreateTempFileFor(dir.File("missing/project.klx"), &c));
  EXPECT_FALSE(platform::ReplaceFile(dir.File("no-such-file"), target));
  EXPECT_EQ(kxtest::ReadText(target), "new");
}

}  // namespace
