#include "image/packed_string_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

TEST(PackedStringList, EntriesAreAlignedAndReadBack) {
  PackedStringListPtr list = PackedStringListPtr::Make();
  EXPECT_STREQ(list->GetEntryName(0), "no image");
  EXPECT_EQ(list->BufferSize(), 0u);

  list->Append("a.png", 7);
  list->Append("bb.png", -3, 2);             // only "bb"
  list->Append("c.png", 9, -1, "/dir/", 5);  // prefix + name
  EXPECT_EQ(list->BufferSize(), PackedStringList::kInitialBufferSize);
  ASSERT_EQ(list->Count(), 3);
  EXPECT_STREQ(list->GetEntryName(0), "a.png");
  EXPECT_STREQ(list->GetEntryName(1), "bb");
  EXPECT_STREQ(list->GetEntryName(2), "/dir/c.png");
  EXPECT_EQ(list->GetEntryNumber(1), -3);
  // Out-of-range indices are clamped for names.
  EXPECT_STREQ(list->GetEntryName(99), "/dir/c.png");
  EXPECT_STREQ(list->GetEntryName(-1), "a.png");
  EXPECT_EQ(list->GetEntry(3), nullptr);
  // The first entry lies at the very end of the buffer; every entry is 8-byte aligned.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(list->GetEntry(i)) % 8, 0u);
  }
  EXPECT_EQ(list->FindNumber(9), 2);
  EXPECT_EQ(list->FindNumber(8), -1);
}

TEST(PackedStringList, GrowsAsOftenAsNeededAndKeepsEntries) {
  PackedStringListPtr list = PackedStringListPtr::Make();
  list->Append("first", 1);
  // One entry bigger than two doublings of the initial buffer.
  const std::string big(3 * PackedStringList::kInitialBufferSize, 'x');
  list->Append(big.c_str(), 2);
  EXPECT_EQ(list->BufferSize(), 4 * PackedStringList::kInitialBufferSize);
  EXPECT_STREQ(list->GetEntryName(0), "first");
  EXPECT_EQ(std::string(list->GetEntryName(1)), big);

  // Many small entries across several growths.
  for (int i = 0; i < 5000; ++i) list->Append(std::to_string(i).c_str(), 100 + i);
  ASSERT_EQ(list->Count(), 5002);
  for (int i = 0; i < 5000; i += 499) {
    EXPECT_EQ(std::string(list->GetEntryName(2 + i)), std::to_string(i));
    EXPECT_EQ(list->GetEntryNumber(2 + i), 100 + i);
  }
}

TEST(PackedStringList, SortsPointersNotEntries) {
  PackedStringListPtr list = PackedStringListPtr::Make();
  list->Append("five", 5);
  list->Append("one", 1);
  list->Append("three", 3);
  const char* five = list->GetEntry(0);
  list->SortByNumber();
  EXPECT_STREQ(list->GetEntryName(0), "one");
  EXPECT_STREQ(list->GetEntryName(1), "three");
  EXPECT_STREQ(list->GetEntryName(2), "five");
  EXPECT_EQ(list->GetEntry(2), five);  // the entry bytes did not move
}

TEST(PackedStringList, TokenEntriesHoldRawBytes) {
  PackedStringListPtr list = PackedStringListPtr::Make();
  char* token = list->AllocEntry(6);
  std::memcpy(token, "--fmt", 6);
  EXPECT_STREQ(list->GetEntry(0), "--fmt");
}
