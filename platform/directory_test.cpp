#include "platform/directory.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace platform {
namespace {

TEST(DirectoryTest, ListsSortedEntriesWithoutDotEntries) {
  char templ[] = "/tmp/kx_dir_XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  const std::string dir = templ;
  for (const char* name : {"img10.png", "img09.png", "IMG11.png"}) {
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0777), 0);

  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(ListDirectory(dir, &entries));
  ASSERT_EQ(entries.size(), 4u);
  const char* expected[] = {"IMG11.png", "img09.png", "img10.png", "sub"};
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, expected[i]);
    EXPECT_EQ(entries[i].is_directory, i == 3);
  }

  for (const char* name : {"img10.png", "img09.png", "IMG11.png"}) {
    std::remove((dir + "/" + name).c_str());
  }
  rmdir((dir + "/sub").c_str());
  rmdir(dir.c_str());
  EXPECT_FALSE(ListDirectory(dir, &entries));
  EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace platform
