#include "image/sequence_info.h"

#include <gtest/gtest.h>

TEST(SequenceInfo, InstanceIsSharedAndClearResets) {
  SequenceInfo& info = SequenceInfo::Instance();
  EXPECT_EQ(&info, &SequenceInfo::Instance());
  info.frame_count = 12;
  info.width = 720;
  info.file_name = "x.png";
  info.state = 1;
  info.Clear();
  EXPECT_EQ(info.frame_count, 0);
  EXPECT_EQ(info.width, 0);
  EXPECT_EQ(info.file_name, "");
  EXPECT_EQ(info.state, 2);
}
