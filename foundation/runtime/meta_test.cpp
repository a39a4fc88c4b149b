#include "foundation/runtime/meta.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Meta, NameIsOwnedAndCopiedDeeply) {
  Meta a;
  EXPECT_EQ(a.GetName(), nullptr);
  EXPECT_STREQ(a.GetMyClassName(), "Meta");

  std::string source = "camera 1";
  a.SetName(source.c_str());
  source[0] = 'X';
  EXPECT_STREQ(a.GetName(), "camera 1");

  a.SetName(a.GetName());  // own name as the argument
  EXPECT_STREQ(a.GetName(), "camera 1");

  auto b = std::make_unique<Meta>(a);
  Meta c;
  c = *b;
  EXPECT_NE(b->GetName(), a.GetName());
  b.reset();
  EXPECT_STREQ(c.GetName(), "camera 1");

  c.SetName(nullptr);
  EXPECT_EQ(c.GetName(), nullptr);
  EXPECT_STREQ(a.GetName(), "camera 1");
}

}  // namespace
