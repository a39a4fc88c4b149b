#include "image/jpeg_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "image/image_file_io.h"
#include "image/jpeg_for_test.h"

using jpeg_test::Decode;
using jpeg_test::ExifEntry;
using jpeg_test::LoadFixture;
using jpeg_test::LoadPnm;
using jpeg_test::Segment;
using jpeg_test::Segments;

namespace {

std::string FixturePath(const char* name) {
  return std::string(KALVEX_SOURCE_DIR) + "/testdata/jpeg/" + name;
}

const Segment& Find(const std::vector<Segment>& segs, int marker) {
  for (const Segment& s : segs)
    if (s.marker == marker) return s;
  static const Segment none{0, 0, 0};
  return none;
}

// Through the image-file library: probe, description, rows and close.
TEST(JpegReader, OpensThroughImageFileLibrary) {
  struct Case {
    const char* file;
    const char* description;
    int channels, bits;
  };
  const Case kCases[] = {{"b420.jpg", "JPEG(420)", 3, 24},  {"p_b420.jpg", "JPEG(420)", 3, 24},
                         {"b422.jpg", "JPEG(422)", 3, 24},  {"b440.jpg", "JPEG(440)", 3, 24},
                         {"b444.jpg", "JPEG(444)", 3, 24},  {"gray.jpg", "JPEG(gray)", 1, 8},
                         {"p_gray.jpg", "JPEG(gray)", 1, 8}};
  int code;
  const jpeg_test::Picture reference = Decode(LoadFixture("b420.jpg"), &code);
  ASSERT_EQ(code, 0);
  for (const Case& c : kCases) {
    for (const char* prefix : {"", "jpg:"}) {
      ImageFileIO::ImageFileContext ctx;
      const std::string path = prefix + FixturePath(c.file);
      ASSERT_EQ(ImageFileIO::OpenRead(&ctx, path.c_str()), 0) << path;
      EXPECT_EQ(ctx.format_id, uint32_t(ImageFileIO::kFormatJPEG));
      EXPECT_STREQ(ctx.description, c.description);
      EXPECT_EQ(ctx.channels, c.channels);
      EXPECT_EQ(ctx.bits_per_pixel, c.bits);
      EXPECT_EQ(ctx.width, 48);
      EXPECT_EQ(ctx.height, 40);
      EXPECT_EQ(ctx.metadata, nullptr);  // no EXIF block
      std::vector<uint32_t> row(ctx.width);
      for (int y = 0; y < ctx.height; ++y) {
        ASSERT_EQ(ImageFileIO::ReadRow(row.data(), &ctx), 0) << c.file << " row " << y;
        if (std::strcmp(c.description, "JPEG(420)") != 0) continue;
        for (int x = 0; x < ctx.width; ++x) {
          const uint8_t* ref = &reference.pixels[(size_t(y) * ctx.width + x) * 3];
          ASSERT_EQ(row[x], uint32_t(ref[0]) << 16 | uint32_t(ref[1]) << 8 | ref[2])
              << x << "," << y;
        }
      }
      EXPECT_EQ(ImageFileIO::Close(&ctx), 0);
      EXPECT_EQ(ctx.decoder_state, nullptr);
    }
  }
}

// The EXIF orientation reaches the context, and metadata holds the summary
// of the open image.
TEST(JpegReader, OrientationThroughImageFileLibrary) {
  const std::vector<uint8_t> file = jpeg_test::InsertAfterSoi(
      LoadFixture("b420.jpg"), jpeg_test::MakeExifSegment({{274, 3, 1, 6}}, {}));
  const std::string path = ::testing::TempDir() + "jpeg_orientation_6.jpg";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), f), file.size());
  std::fclose(f);
  ImageFileIO::ImageFileContext ctx;
  ASSERT_EQ(ImageFileIO::OpenRead(&ctx, path.c_str()), 0);
  EXPECT_EQ(ctx.orientation, 6);
  ASSERT_NE(ctx.metadata, nullptr);
  const auto* exif = static_cast<const JpegExifSummary*>(ctx.metadata);
  EXPECT_EQ(std::string(exif->text + 79, 4), "or=6");
  EXPECT_EQ(file[size_t(exif->orientation_offset)], 6);
  EXPECT_EQ(ImageFileIO::ReadRow(nullptr, &ctx), 0);
  EXPECT_EQ(ImageFileIO::Close(&ctx), 0);
  std::remove(path.c_str());
}

// Result codes of malformed headers, made by editing a real file.
TEST(JpegReader, RefusesMalformedHeaders) {
  const std::vector<uint8_t> base = LoadFixture("b420.jpg");
  const std::vector<uint8_t> prog = LoadFixture("p_b420.jpg");
  const std::vector<Segment> segs = Segments(base);
  const size_t sof = Find(segs, 0xC0).offset, dqt = Find(segs, 0xDB).offset;
  const size_t dht = Find(segs, 0xC4).offset;
  ASSERT_GT(sof, 0u);
  ASSERT_GT(dqt, 0u);
  ASSERT_GT(dht, 0u);
  auto edit = [](std::vector<uint8_t> f, size_t at, std::vector<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), f.begin() + at);
    return f;
  };
  auto insert = [](std::vector<uint8_t> f, size_t at, std::vector<uint8_t> bytes) {
    f.insert(f.begin() + at, bytes.begin(), bytes.end());
    return f;
  };
  auto fill = [&](int n) { return insert(base, sof, std::vector<uint8_t>(n, 0xFF)); };
  std::vector<uint8_t> four_tables = base;  // DQT with 4 tables: L = 260
  {
    std::vector<uint8_t> seg = {0xFF, 0xDB, 0x01, 0x06};
    for (int t = 0; t < 4; ++t) {
      seg.push_back(uint8_t(t));
      seg.insert(seg.end(), 64, 1);
    }
    four_tables = insert(base, dqt, seg);
  }
  const size_t prog_sos = Find(Segments(prog), 0xDA).offset;
  const size_t prog_sos_len = prog[prog_sos + 2] << 8 | prog[prog_sos + 3];
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    int code;
  };
  const std::vector<Case> kCases = {
      {"31 fill bytes", fill(31), 0},
      {"32 fill bytes", fill(32), kJpegFillBytes},
      {"SOF1", edit(base, sof + 1, {0xC1}), kJpegExtended},
      {"SOF3", edit(base, sof + 1, {0xC3}), kJpegLossless},
      {"SOF9", edit(base, sof + 1, {0xC9}), kJpegMarker},
      {"precision 12", edit(base, sof + 4, {12}), kJpegPrecision},
      {"two components", edit(base, sof + 9, {2}), kJpegPrecision},
      {"sampling 3x1", edit(base, sof + 11, {0x31}), kJpegSampling},
      {"chroma 2x2", edit(base, sof + 14, {0x22}), kJpegSampling},
      {"colour quantisation table 3", edit(base, sof + 12, {3}), kJpegColourQuantSelector},
      {"DQT four tables", four_tables, kJpegDqtLength},
      {"DQT id 3", edit(base, dqt + 4, {3}), kJpegDqtId},
      {"DHT class 2", edit(base, dht + 4, {0x20}), kJpegDhtClass},
      {"DHT counts beyond segment", edit(base, dht + 5, {0, 200}), kJpegDhtLength},
      {"DRI length 3", insert(base, sof, {0xFF, 0xDD, 0, 5, 0, 1, 0}), kJpegDriLength},
      {"APP9 skipped", insert(base, sof, {0xFF, 0xE9, 0, 4, 1, 2}), 0},
      {"DNL marker", insert(base, sof, {0xFF, 0xDC, 0, 4, 0, 1}), kJpegMarker},
      {"no marker", edit(base, sof, {0x12}), kJpegNoMarker},
      {"three bytes", {0xFF, 0xD8, 0xFF}, kJpegTooShort},
      {"segment cut", std::vector<uint8_t>(base.begin(), base.begin() + sof + 10),
       kJpegSegmentMissing},
      {"huge progressive",
       edit(prog, Find(Segments(prog), 0xC2).offset + 5, {0xFF, 0xFF, 0x7F, 0xFF}), kJpegTooLarge},
      {"DC scan with AC band", edit(prog, prog_sos + 2 + prog_sos_len - 2, {5}), kJpegMixedScan},
  };
  for (const Case& c : kCases) {
    JpegReaderState state;
    JpegMemoryInput input(c.file.data(), c.file.size());
    EXPECT_EQ(OpenJpegStream(&input, &state), c.code) << c.what;
  }
}

// The colour space of three 1x1-sampled components: a JFIF marker means YCbCr, an Adobe marker
// says it by its transform (0 RGB, 1 YCbCr); only without either do quantisation tables 0, 1, 2
// mean RGB. b444.jpg is a JFIF file; its third component is moved to a table 2 that copies
// table 1, so the picture itself stays the same.
TEST(JpegReader, ColourSpaceFromMarkersBeforeTableSlots) {
  const std::vector<uint8_t> jfif = LoadFixture("b444.jpg");
  const Segment app0 = Find(Segments(jfif), 0xE0);
  ASSERT_EQ(app0.marker, 0xE0);
  std::vector<uint8_t> plain(jfif.begin(), jfif.begin() + app0.offset);
  plain.insert(plain.end(), jfif.begin() + app0.end, jfif.end());
  auto with_adobe = [&](uint8_t transform) {
    const std::vector<uint8_t> app14 = {0xFF, 0xEE, 0,   14, 'A', 'd', 'o', 'b',
                                        'e',  0,    100, 0,  0,   0,   0,   transform};
    return jpeg_test::InsertAfterSoi(plain, app14);
  };
  // Table 2 := table 1 in its own DQT segment, and the third component uses it.
  auto slots_012 = [](std::vector<uint8_t> file) {
    const Segment sof = Find(Segments(file), 0xC0);
    file[sof.offset + 18] = 2;
    for (const Segment& seg : Segments(file)) {
      if (seg.marker != 0xDB) continue;
      for (size_t at = seg.offset + 4; at + 65 <= seg.end; at += 65) {
        if (file[at] != 1) continue;
        std::vector<uint8_t> dqt = {0xFF, 0xDB, 0, 67, 2};
        dqt.insert(dqt.end(), file.begin() + at + 1, file.begin() + at + 65);
        file.insert(file.begin() + sof.offset, dqt.begin(), dqt.end());
        return file;
      }
    }
    ADD_FAILURE() << "no table 1";
    return file;
  };
  const jpeg_test::Picture reference = LoadPnm("b444.pnm");
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    bool rgb;
  };
  const Case cases[] = {
      {"JFIF, tables 0 1 1", jfif, false},
      {"JFIF, tables 0 1 2", slots_012(jfif), false},
      {"no marker, tables 0 1 1", plain, false},
      {"no marker, tables 0 1 2", slots_012(plain), true},
      {"Adobe transform 0, tables 0 1 1", with_adobe(0), true},
      {"Adobe transform 1, tables 0 1 2", slots_012(with_adobe(1)), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JpegReaderState state;
    int code;
    const jpeg_test::Picture picture = Decode(c.file, &code, &state);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(state.info.rgb, c.rgb);
    EXPECT_STREQ(state.info.description, c.rgb ? "JPEG(rgb)" : "JPEG(444)");
    if (c.rgb) continue;
    // Read as YCbCr, the picture is the reference decoder's.
    ASSERT_EQ(picture.pixels.size(), reference.pixels.size());
    int worst = 0;
    for (size_t i = 0; i < picture.pixels.size(); ++i)
      worst = std::max(worst, std::abs(int(picture.pixels[i]) - int(reference.pixels[i])));
    EXPECT_LE(worst, 3);
  }
  // An Adobe marker with transform 0 makes a subsampled frame RGB too; its name keeps the
  // sampling.
  std::vector<uint8_t> subsampled = LoadFixture("b420.jpg");
  const Segment jfif420 = Find(Segments(subsampled), 0xE0);
  subsampled.erase(subsampled.begin() + jfif420.offset, subsampled.begin() + jfif420.end);
  for (uint8_t transform : {0, 1}) {
    SCOPED_TRACE(int(transform));
    const std::vector<uint8_t> app14 = {0xFF, 0xEE, 0,   14, 'A', 'd', 'o', 'b',
                                        'e',  0,    100, 0,  0,   0,   0,   transform};
    JpegReaderState state;
    int code;
    Decode(jpeg_test::InsertAfterSoi(subsampled, app14), &code, &state);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(state.info.rgb, transform == 0);
    EXPECT_STREQ(state.info.description, "JPEG(420)");
  }
}

TEST(JpegExif, OrientationFromApp1) {
  const std::vector<uint8_t> file = LoadFixture("odd17x9.jpg");
  for (int o = 0; o <= 9; ++o) {
    const std::vector<uint8_t> exif = jpeg_test::MakeExifSegment({{274, 3, 1, uint32_t(o)}}, {});
    JpegReaderState state;
    int code;
    Decode(jpeg_test::InsertAfterSoi(file, exif), &code, &state);
    ASSERT_EQ(code, 0);
    const bool valid = o >= 1 && o <= 8;
    EXPECT_EQ(state.info.orientation, valid ? o : 0) << o;
    EXPECT_EQ(std::string(state.exif.text + 79, 4), valid ? "or=" + std::to_string(o) : "    ");
    if (valid) {
      // The offset of the value in the file (the second file's bytes hold o there).
      const std::vector<uint8_t> whole = jpeg_test::InsertAfterSoi(file, exif);
      ASSERT_GT(state.exif.orientation_offset, 0);
      EXPECT_EQ(whole[size_t(state.exif.orientation_offset)], o);
    }
  }
}

TEST(JpegExif, SummaryColumns) {
  const std::string make = "Canon", date = "2024:05:06 07:08:09", model = "EOS 5D";
  std::vector<uint8_t> data;
  auto add = [&](const std::vector<uint8_t>& bytes) {
    const uint32_t at = uint32_t(data.size());
    data.insert(data.end(), bytes.begin(), bytes.end());
    return at;
  };
  auto text = [](const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
  };
  auto rational = [](uint32_t n, uint32_t d) {
    return std::vector<uint8_t>{uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24),
                                uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)};
  };
  const uint32_t m = add(text(make)), dt = add(text(date)), md = add(text(model));
  const uint32_t exposure = add(rational(10, 2500)), fnum = add(rational(28, 10));
  const uint32_t focal = add(rational(500, 10)), bias = add(rational(uint32_t(-2), 3));
  const std::vector<ExifEntry> entries = {
      {271, 2, uint32_t(make.size() + 1), m, true},
      {306, 2, uint32_t(date.size() + 1), dt, true},
      {272, 2, uint32_t(model.size() + 1), md, true},
      {274, 3, 1, 6},
      {34850, 3, 1, 2},
      {37380, 10, 1, bias, true},
      {33434, 5, 1, exposure, true},
      {33437, 5, 1, fnum, true},
      {34855, 3, 1, 400},
      {37385, 3, 1, 1},
      {37386, 5, 1, focal, true},
  };
  JpegReaderState state;
  int code;
  Decode(jpeg_test::InsertAfterSoi(LoadFixture("odd17x9.jpg"),
                                   jpeg_test::MakeExifSegment(entries, data)),
         &code, &state);
  ASSERT_EQ(code, 0);
  std::string expected(288, ' ');
  std::fill(expected.begin(), expected.begin() + 32, '\0');
  expected.replace(0, make.size(), make);
  auto put = [&](int col, const std::string& s) { expected.replace(col, s.size(), s); };
  put(33, date);
  put(55, model);
  put(79, "or=6");
  put(86, "P:");
  put(88, "-0.6");
  put(93, "t=1/250");
  put(103, "f/2.8");
  put(112, "ISO=400");
  put(121, "flash");
  put(128, "fl=50");
  EXPECT_EQ(state.exif.length, 133 - 32);
  expected[133] = '\0';
  EXPECT_EQ(std::string(state.exif.text, 288), expected);
  EXPECT_EQ(state.info.orientation, 6);
}

// Decodes a small picture whose EXIF data is `data`: the make (tag 271) is its first six
// bytes, the maker note (tag 37500) runs from `note` to its end.
void DecodeWithMakerNote(const std::vector<uint8_t>& data, uint32_t note, int* code,
                         JpegReaderState* state) {
  const std::vector<ExifEntry> entries = {{271, 2, 6, 0, true},
                                          {37500, 7, uint32_t(data.size() - note), note, true}};
  Decode(jpeg_test::InsertAfterSoi(LoadFixture("odd17x9.jpg"),
                                   jpeg_test::MakeExifSegment(entries, data)),
         code, state);
}

// Canon maker notes: complete entries are read; short arrays are ignored
// rather than read beyond their data.
TEST(JpegExif, CanonMakerNoteBounds) {
  for (const uint32_t entries_in_note : {25u, 3u}) {
    std::vector<uint8_t> data;
    const uint32_t n_ifd0 = 2;
    const uint32_t data_start = 8 + 2 + 12 * n_ifd0 + 4;
    data.insert(data.end(), {'C', 'a', 'n', 'o', 'n', 0});
    // Maker note: a directory with tag 1 pointing at the camera settings array.
    const uint32_t note = uint32_t(data.size());
    const uint32_t array = data_start + note + 2 + 12 + 4;
    const std::vector<uint8_t> dir = {
        1, 0, 1, 0, 3, 0, uint8_t(entries_in_note), 0, 0, 0, uint8_t(array), uint8_t(array >> 8),
        0, 0, 0, 0, 0, 0};
    data.insert(data.end(), dir.begin(), dir.end());
    std::vector<uint16_t> values(entries_in_note, 0);
    if (entries_in_note > 24) {
      values[16] = 17;  // ISO 100
      values[24] = 18;  // short focal length
      values[23] = 55;  // long focal length
    }
    for (uint16_t v : values) data.insert(data.end(), {uint8_t(v), uint8_t(v >> 8)});
    JpegReaderState state;
    int code;
    DecodeWithMakerNote(data, note, &code, &state);
    ASSERT_EQ(code, 0);
    const std::string text(state.exif.text + 112, 32);
    if (entries_in_note > 24)
      EXPECT_EQ(text, "ISO=100                  L:18-55");
    else
      EXPECT_EQ(text, std::string(32, ' '));
  }
}

// Nikon maker notes carry their own TIFF header; the ISO value is read two
// bytes into its entry only when the entry holds those bytes.
TEST(JpegExif, NikonMakerNoteBounds) {
  for (const uint32_t iso_count : {2u, 1u}) {
    std::vector<uint8_t> data = {'N', 'I', 'K', 'O', 'N', 0};
    const uint32_t note = uint32_t(data.size());
    const std::vector<uint8_t> header = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0,
                                         0,   'I', 'I', 42,  0,   8, 0, 0,    0};
    data.insert(data.end(), header.begin(), header.end());
    // Directory: tag 5 "AUTO" (inline), tag 19 two shorts {0, 800} (inline).
    const std::vector<uint8_t> dir = {
        2, 0, 5, 0, 2, 0,    4, 0, 0, 0, 'A', 'U', 'T', 0, 19, 0, 3, 0, uint8_t(iso_count),
        0, 0, 0, 0, 0, 0x20, 3, 0, 0, 0, 0};
    data.insert(data.end(), dir.begin(), dir.end());
    JpegReaderState state;
    int code;
    DecodeWithMakerNote(data, note, &code, &state);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(std::string(state.exif.text + 137, 6), "WB=AUT");
    EXPECT_EQ(std::string(state.exif.text + 112, 8), iso_count == 2 ? "ISO=800 " : "        ");
  }
}

// A baseline file cut inside its entropy-coded data opens, decodes the rows whose MCU rows are
// whole, and fails at the first row without data (and after it); one missing only its
// end-of-image marker reads whole.
TEST(JpegReader, TruncatedDataFailsTheFirstRowWithoutData) {
  for (const char* name : {"b420.jpg", "b444.jpg", "gray.jpg", "b420_rst.jpg"}) {
    const std::vector<uint8_t> file = LoadFixture(name);
    const Segment sos = Find(Segments(file), 0xDA);
    const size_t data = sos.offset + 2 + (file[sos.offset + 2] << 8 | file[sos.offset + 3]);
    struct Cut {
      size_t size;
      bool whole;
    };
    const Cut cuts[] = {{file.size() - 2, true},
                        {file.size() - 30, false},
                        {(data + file.size()) / 2, false},
                        {data + 4, false}};
    int code;
    const jpeg_test::Picture full = Decode(file, &code);
    ASSERT_EQ(code, 0);
    for (const Cut& cut : cuts) {
      SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(cut.size));
      const std::vector<uint8_t> bytes(file.begin(), file.begin() + cut.size);
      JpegMemoryInput input(bytes.data(), bytes.size());
      JpegReaderState st;
      ASSERT_EQ(OpenJpegStream(&input, &st), 0);
      const int height = st.info.height, row_size = st.info.width * st.info.channels;
      int good = 0;
      const int16_t* rows[3];
      while (good < height && st.decoder.ReadRows(rows)) ++good;
      if (cut.whole) {
        EXPECT_EQ(good, height);
        continue;
      }
      EXPECT_LT(good, height);
      EXPECT_FALSE(st.decoder.ReadRows(rows));     // and every row after the failure
      EXPECT_EQ(good % st.decoder.mcu_height, 0);  // whole MCU rows only
      // The rows decoded are the full file's (but for the last MCU row, whose chroma lacks the
      // context of the next one).
      const jpeg_test::Picture part = Decode(bytes, &code);
      EXPECT_EQ(code, -22);
      const size_t same = size_t(std::max(0, good - st.decoder.mcu_height)) * row_size;
      EXPECT_TRUE(std::equal(part.pixels.begin(), part.pixels.begin() + same, full.pixels.begin()));
    }
  }
}

// Cut and damaged files end with a code or a picture, never a crash or a
// write outside the decoder's memory (the sanitizers watch).
TEST(JpegReader, SurvivesTruncationAndCorruption) {
  std::mt19937 rng(11);
  for (const char* name : {"b420.jpg", "p_b420.jpg", "b440.jpg", "p_b422.jpg", "gray.jpg",
                           "p_b420_rst.jpg", "b420_rst.jpg", "p_odd17x9.jpg"}) {
    const std::vector<uint8_t> file = LoadFixture(name);
    for (size_t cut : {size_t(3), size_t(20), file.size() / 3, file.size() / 2, file.size() - 40,
                       file.size() - 3, file.size() - 1}) {
      int code;
      Decode(std::vector<uint8_t>(file.begin(), file.begin() + cut), &code);
      EXPECT_LE(code, 0);
    }
    for (int trial = 0; trial < 60; ++trial) {
      std::vector<uint8_t> bad = file;
      const int flips = 1 + trial % 8;
      for (int i = 0; i < flips; ++i) {
        const size_t at = 2 + rng() % (bad.size() - 2);
        bad[at] = trial % 3 == 0 ? uint8_t(rng()) : uint8_t(bad[at] ^ (1 << (rng() % 8)));
      }
      int code;
      Decode(bad, &code);
      EXPECT_LE(code, 0);
    }
  }
}

}  // namespace
