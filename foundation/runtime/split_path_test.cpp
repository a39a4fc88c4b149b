#include "foundation/runtime/split_path.h"

#include <gtest/gtest.h>

TEST(SplitPath, SplitsAtLastBackslashElseLastSlash) {
  struct Case {
    const char* path;
    const char* directory;
    const char* name;
  };
  const Case cases[] = {
      {"/data/shots/a.png", "/data/shots", "a.png"},
      {"C:\\shots\\a.png", "C:\\shots", "a.png"},
      {"C:\\shots/sub\\a.png", "C:\\shots/sub", "a.png"},
      {"a\\b/c.png", "a", "b/c.png"},  // a backslash wins over a later slash
      {"plain.png", "", "plain.png"},
      {"/root.png", "", "root.png"},
      {"dir/", "dir", ""},
  };
  for (const Case& c : cases) {
    std::string directory = "x", name = "y";
    SplitPath(c.path, &directory, &name);
    EXPECT_EQ(directory, c.directory) << c.path;
    EXPECT_EQ(name, c.name) << c.path;
  }
  std::string directory = "x", name = "y";
  SplitPath(nullptr, &directory, &name);
  EXPECT_EQ(directory, "");
  EXPECT_EQ(name, "");
}
