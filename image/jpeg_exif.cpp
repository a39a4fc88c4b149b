#include "image/jpeg_exif.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>

namespace {

constexpr int kMaxDepth = 8;
constexpr uint32_t kCanonTags = 65536 * 2;
constexpr uint32_t kNikonTags = 65536;

struct Reader {
  const uint8_t* data;
  int64_t size;
  JpegByteOrder order;
  bool Has(int64_t off, int64_t n) const { return off >= 0 && n >= 0 && off <= size - n; }
  uint32_t U16(int64_t off) const {
    const uint8_t* p = data + off;
    return order == JpegByteOrder::kLittle ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]);
  }
  uint32_t U32(int64_t off) const {
    const uint8_t* p = data + off;
    return order == JpegByteOrder::kLittle ? (uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                              uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24)
                                           : (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 |
                                              uint32_t(p[2]) << 8 | uint32_t(p[3]));
  }
};

// Writes s at column col (within the text), keeping the largest end column.
void Put(JpegExifSummary* sum, int col, const std::string& s, int width = -1) {
  const int n = int(s.size());
  for (int i = 0; i < n && col + i < JpegExifSummary::kTextSize; ++i) sum->text[col + i] = s[i];
  const int end = std::min(col + std::max(n, width), JpegExifSummary::kTextSize);
  const int len = end - JpegExifSummary::kSummaryStart;
  if (len > sum->length) sum->length = uint8_t(std::min(len, 255));
}

// Integer part, plus one truncated decimal when that part is below 100 and the
// decimal is not 0.
std::string Quotient(uint64_t num, uint64_t den) {
  const uint64_t g = std::gcd(num, den);
  if (g > 1) {
    num /= g;
    den /= g;
  }
  const uint64_t whole = num / den;
  char buf[48];
  const uint64_t decimal = ((num % den) * 10) / den;
  if (whole < 100 && decimal != 0)
    std::snprintf(buf, sizeof buf, "%llu.%llu", (unsigned long long)whole,
                  (unsigned long long)decimal);
  else
    std::snprintf(buf, sizeof buf, "%llu", (unsigned long long)whole);
  return buf;
}

std::string Number(long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld", v);
  return buf;
}

// Copies at most n characters of a text value (up to its own end).
std::string Text(const uint8_t* p, int64_t count, int n) {
  std::string s;
  for (int64_t i = 0; i < count && i < n && p[i]; ++i) s.push_back(char(p[i]));
  return s;
}

int TypeSize(uint32_t type) {
  switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
      return 1;
    case 3:
    case 8:
      return 2;
    case 4:
    case 9:
    case 11:
      return 4;
    case 5:
    case 10:
    case 12:
      return 8;
    default:
      return 0;
  }
}

void PutIso(JpegExifSummary* sum, long iso) {
  Put(sum, 112, "ISO=" + Number(iso));
}

void ScanDirectory(JpegExifSummary* sum, const Reader& r, int64_t dir, int depth,
                   uint32_t tag_offset);

void ScanEntry(JpegExifSummary* sum, const Reader& r, int64_t entry, int depth,
               uint32_t tag_offset) {
  const uint32_t tag = r.U16(entry) + tag_offset;
  const uint32_t type = r.U16(entry + 2);
  const uint64_t count = r.U32(entry + 4);
  const uint64_t bytes = count * uint64_t(TypeSize(type));
  int64_t value = entry + 8;
  if (bytes > 4) {
    value = r.U32(entry + 8);
    if (!r.Has(value, int64_t(bytes))) return;
  }
  const uint8_t* p = r.data + value;
  auto u16 = [&](uint64_t i) -> long {
    return i < count && type == 3 ? long(r.U16(value + 2 * i)) : -1;
  };
  auto rational = [&](uint64_t* num, uint64_t* den) -> bool {
    if ((type != 5 && type != 10) || count < 1) return false;
    *num = r.U32(value);
    *den = r.U32(value + 4);
    return *den != 0;
  };
  auto integer = [&](long* v) -> bool {
    if (count < 1) return false;
    if (type == 3)
      *v = long(r.U16(value));
    else if (type == 4)
      *v = long(r.U32(value));
    else if (type == 1 || type == 7)
      *v = p[0];
    else
      return false;
    return true;
  };
  long v;
  uint64_t num, den;
  switch (tag) {
    case 271: {
      std::memset(sum->text, 0, JpegExifSummary::kSummaryStart);
      const std::string make = Text(p, int64_t(std::min<uint64_t>(bytes, 1 << 20)), 31);
      std::memcpy(sum->text, make.data(), make.size());
      break;
    }
    case 306:
      Put(sum, 33, Text(p, int64_t(bytes), 19), 19);
      break;
    case 272:
      Put(sum, 55, Text(p, int64_t(bytes), 22), 22);
      break;
    case 274:
      if (integer(&v) && v >= 1 && v <= 8 && sum->text[JpegExifSummary::kOrientationDigit] == ' ') {
        Put(sum, 79, "or=" + Number(v));
        sum->orientation_offset = value;
      }
      break;
    case 34850:
      if (integer(&v) && v >= 0 && v <= 8) Put(sum, 86, std::string(1, "xMPASCapl"[v]) + ":");
      break;
    case 37380:
      if ((type == 10 || type == 5) && count >= 1) {
        int64_t n = int32_t(r.U32(value)), d = int32_t(r.U32(value + 4));
        if (type == 5) n = r.U32(value), d = r.U32(value + 4);
        if (d != 0) {
          const bool negative = (n < 0) != (d < 0) && n != 0;
          Put(sum, 88,
              (negative ? "-" : "+") +
                  Quotient(uint64_t(n < 0 ? -n : n), uint64_t(d < 0 ? -d : d)));
        }
      }
      break;
    case 33434:
      if (rational(&num, &den) && num != 0) {
        if (num < den)
          Put(sum, 93, "t=1/" + Quotient(den, num));
        else
          Put(sum, 93, "t=" + Quotient(num, den));
      }
      break;
    case 33437:
      if (rational(&num, &den)) Put(sum, 103, "f/" + Quotient(num, den));
      break;
    case 34855:
      if (rational(&num, &den)) {
        if (num < 50 * den) num *= 200;
        PutIso(sum, long(num / den));
      } else if (integer(&v)) {
        PutIso(sum, v);
      }
      break;
    case 37385:
      if (integer(&v) && (v & 1)) Put(sum, 121, "flash");
      break;
    case 37386:
      if (rational(&num, &den)) Put(sum, 128, "fl=" + Quotient(num, den));
      break;
    case 34665:
    case 40965:
      if (integer(&v) && depth < kMaxDepth) ScanDirectory(sum, r, v, depth + 1, tag_offset);
      break;
    case 37500:
      if (depth >= kMaxDepth) break;
      if (std::strstr(sum->text, "Canon")) {
        ScanDirectory(sum, r, value, depth + 1, kCanonTags);
      } else if (std::strstr(sum->text, "NIKON")) {
        ScanExifHeader(sum, p, int64_t(bytes), depth + 1, kNikonTags);
      }
      break;
    case kCanonTags + 1: {
      static const long kIso[4] = {50, 100, 200, 400};
      const long iso = u16(16);
      if (iso >= 16 && iso <= 19) PutIso(sum, kIso[iso - 16]);
      const long shortest = u16(24), longest = u16(23);
      if (shortest > 0) {
        Put(sum, 137, "L:" + Number(shortest));
        if (longest > shortest) Put(sum, 141, "-" + Number(longest));
      }
      break;
    }
    case kCanonTags + 4: {
      static const long kCode[9] = {128, 160, 192, 224, 256, 268, 276, 288, 320};
      static const long kIso[9] = {50, 100, 200, 400, 800, 1000, 1250, 1600, 3200};
      const long code = u16(2);
      for (int i = 0; i < 9; ++i)
        if (code == kCode[i]) PutIso(sum, kIso[i]);
      break;
    }
    case kNikonTags + 5:
      Put(sum, 137, "WB=" + Text(p, int64_t(bytes), 15), 18);
      break;
    case kNikonTags + 19:
      if (bytes >= 4) PutIso(sum, long(r.U16(value + 2)));
      break;
    default:
      break;
  }
}

void ScanDirectory(JpegExifSummary* sum, const Reader& r, int64_t dir, int depth,
                   uint32_t tag_offset) {
  // The chain of next directories counts against the same depth limit, so a
  // looping chain ends.
  for (int links = 0; depth + links <= kMaxDepth; ++links) {
    if (!r.Has(dir, 2)) return;
    const int64_t n = r.U16(dir);
    if (!r.Has(dir + 2, 12 * n)) return;
    for (int64_t i = 0; i < n; ++i) {
      const int64_t entry = dir + 2 + 12 * i;
      if (r.U16(entry + 2) > 12) break;
      ScanEntry(sum, r, entry, depth, tag_offset);
    }
    if (depth != 0 || !r.Has(dir + 2 + 12 * n, 4)) return;
    const int64_t next = r.U32(dir + 2 + 12 * n);
    if (next == 0) return;
    dir = next;
  }
}

}  // namespace

void JpegExifSummary::Reset() {
  orientation_offset = -1;
  text[0] = 0;
  std::memset(text + kSummaryStart, ' ', kTextSize - kSummaryStart);
  length = 0;
}

void ScanExif(JpegExifSummary* summary, const uint8_t* tiff, int64_t dir, int64_t length,
              JpegByteOrder order, int depth, uint32_t tag_offset) {
  if (depth > kMaxDepth || length <= 0) return;
  const Reader r{tiff, length, order};
  ScanDirectory(summary, r, dir, depth, tag_offset);
}

void ScanExifHeader(JpegExifSummary* summary, const uint8_t* block, int64_t length, int depth,
                    uint32_t tag_offset) {
  int64_t tiff;
  if (length >= 16 && std::memcmp(block + 2, "Exif\0\0", 6) == 0) {
    tiff = 8;
  } else if (length >= 18 && block[4] == 'n' && block[5] == 0 && block[6] == 2 &&
             (block[7] == 0x10 || block[7] == 0) && block[8] == 0 && block[9] == 0) {
    tiff = 10;
  } else {
    return;
  }
  const uint8_t* t = block + tiff;
  JpegByteOrder order;
  if (t[0] == 'I' && t[1] == 'I')
    order = JpegByteOrder::kLittle;
  else if (t[0] == 'M' && t[1] == 'M')
    order = JpegByteOrder::kBig;
  else
    return;
  const Reader r{t, length - tiff, order};
  const int64_t before = summary->orientation_offset;
  ScanExif(summary, t, r.U32(4), length - tiff, order, depth, tag_offset);
  if (summary->orientation_offset != before) summary->orientation_offset += tiff;
}
