#pragma once

// The bytes of a project file (extension "kpz").
//
// A file is a text header, then the root block. The header lines end with LF:
//   "KLXP", "Version 1.0", "Mode ascii" or "Mode binary", and in binary mode "Endian big".
// The body is a tree of objects and fields, written either as tab-indented text (ascii)
// or as a byte stream with one-byte identifiers (binary):
//
//   element       ascii                                binary
//   object        indent, name, " {", LF ... "}", LF   identifier, 0x10 ... 0x11
//   field         indent, key, " value"..., LF         identifier, values
//   array         " [", LF ... indent, "]", LF         0x13 ... 0x14
//   integer       " -12"                               zig-zag varint
//   real          " " + FormatAsciiReal                4-byte IEEE single, little-endian
//   text          " \"text\""                          bytes, then a zero byte
//
// Every multi-byte value of a binary file is stored least significant byte first,
// although the header says "big" (a label only; "little" reads the same way).

#include <cstddef>
#include <cstdint>

inline constexpr char PF_MAGIC[] = "KLXP";
inline constexpr double PF_VERSION = 1.0;

// Texts are read into 256-byte buffers: at most 255 characters are kept.
inline constexpr int PF_MAX_TEXT = 255;
// Ascii keys and integers are tokens of at most 15 characters, reals of at most 63.
inline constexpr int PF_MAX_KEY = 15;
inline constexpr int PF_MAX_REAL = 63;

// Structural bytes of the binary mode.
enum : uint8_t {
  PF_OBJECT_BEGIN = 0x10,
  PF_OBJECT_END = 0x11,
  PF_ARRAY_BEGIN = 0x13,
  PF_ARRAY_END = 0x14,
  BIN_VECTOR2 = 0x41,  // one element of a vertex's "Data" array
  PF_CAMERA_RECORD = 0x50,
};

// A field or object key: its ascii name and its binary identifier. One key has the same
// identifier in every object it appears in.
struct ProjectKey {
  const char* name;
  uint8_t id;
};

inline constexpr ProjectKey PF_KEY_KLX{"KLX", 0x08};
inline constexpr ProjectKey PF_KEY_CTRACKMGR{"CTrackMgr", 0x60};
inline constexpr ProjectKey PF_KEY_OBJ3D{"Obj3D", 0xa0};
inline constexpr ProjectKey PF_KEY_PATH{"Path", 0x33};
inline constexpr ProjectKey PF_KEY_TOP_FIELD_FIRST{"TopFieldFirst", 0x30};
inline constexpr ProjectKey PF_KEY_DEINT_METHOD{"DeintMethod", 0x31};
inline constexpr ProjectKey PF_KEY_FRMS{"Frms", 0x32};
inline constexpr ProjectKey PF_KEY_FIMAGE{"FImage", 0x63};
inline constexpr ProjectKey PF_KEY_FMAP_FREE_MOVE{"FMapFreeMove", 0x61};
inline constexpr ProjectKey PF_KEY_FMAP_SPHERE{"FMapSphere", 0x62};
inline constexpr ProjectKey PF_KEY_PMASK{"PMask", 0x90};
inline constexpr ProjectKey PF_KEY_LINE_STRIP{"LineStrip", 0xb0};
inline constexpr ProjectKey PF_KEY_FOCAL_GIZMO{"FocalGizmo", 0xb1};
inline constexpr ProjectKey PF_KEY_FILENAME{"Filename", 0x23};
inline constexpr ProjectKey PF_KEY_FILE_INDEX{"FileIndex", 0x25};
inline constexpr ProjectKey PF_KEY_INDEX{"Index", 0x26};
inline constexpr ProjectKey PF_KEY_FLGS{"Flgs", 0x27};
inline constexpr ProjectKey PF_KEY_FP2D{"FP2D", 0x70};
inline constexpr ProjectKey PF_KEY_VEC2{"Vec2", 0x41};
inline constexpr ProjectKey PF_KEY_FP3DI{"FP3Di", 0x72};
inline constexpr ProjectKey PF_KEY_NFP2DI{"nFP2Di", 0x74};
inline constexpr ProjectKey PF_KEY_NFCSUP{"nFCSup", 0x75};
inline constexpr ProjectKey PF_KEY_FP3D{"FP3D", 0x71};
inline constexpr ProjectKey PF_KEY_NAME{"Name", 0x22};
inline constexpr ProjectKey PF_KEY_VEC3{"Vec3", 0x42};
inline constexpr ProjectKey PF_KEY_ID{"Id", 0x20};
inline constexpr ProjectKey PF_KEY_CS{"CS", 0x21};
inline constexpr ProjectKey PF_KEY_MPROP{"MProp", 0x92};
inline constexpr ProjectKey PF_KEY_MHTPROP{"MHTProp", 0x93};
inline constexpr ProjectKey PF_KEY_COL{"Col", 0x28};
inline constexpr ProjectKey PF_KEY_VERT{"Vert", 0x91};
inline constexpr ProjectKey PF_KEY_DATA{"Data", 0x94};
// Keys that exist in ascii files only (binary files hold their values in a record).
inline constexpr uint8_t PF_ASCII_ONLY = 0;
// The camera: eleven ascii fields in this order, or in binary one record
// PF_CAMERA_RECORD holding C, A, H, V (3 singles each), width, height (varints), the two
// pixel sizes, K3, K5 (singles) and the distortion model number (varint).
inline constexpr ProjectKey PF_KEY_CVEC{"CVec", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_AVEC{"AVec", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_HVEC{"HVec", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_VVEC{"VVec", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_WIDTH{"Width", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_HEIGHT{"Height", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_PIXEL_SIZE_X{"PixelSizeX", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_PIXEL_SIZE_Y{"PixelSizeY", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_RAD_DIST_K3{"RadDistK3", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_RAD_DIST_K5{"RadDistK5", PF_ASCII_ONLY};
inline constexpr ProjectKey PF_KEY_RAD_DIST_TYPE{"RadDistType", PF_ASCII_ONLY};

// Longest encodings, in bytes.
inline constexpr int PF_MAX_VARINT_BYTES = 5;
inline constexpr int PF_ASCII_NUMBER_SIZE = 32;  // buffer for FormatAscii*, terminator included

// Zig-zag varint: u = 2v for v >= 0, -2v - 1 for v < 0; 7-bit groups, lowest first, one
// per byte as group * 2 + 1 while more follow, else group * 2. Returns the byte count.
// 0 -> 00, -1 -> 02, 1 -> 04, 64 -> 01 02, -5 -> 12.
int EncodeVarint(int32_t value, uint8_t out[PF_MAX_VARINT_BYTES]);

// A real as a little-endian IEEE single (doubles are rounded to float), and back.
void EncodeSingle(double value, uint8_t out[4]);
double DecodeSingle(const uint8_t in[4]);

// The ascii forms, each with its leading blank and a terminating zero; return the length.
// Both are independent of the locale.
//   integer: " -5", " 12".
//   real: 8 significant digits: "%.8g" for values of 10000 or more and of 0.0001 or less;
//     from 1 to below 10000 the integer part and the fraction rounded half up to the
//     remaining digits (" 1.5000000", " 2", " 123.25000", " 9.9999999"); above 0.0001 and
//     below 1 "0." and 8 digits after the leading zeros, the last 4 dropped when all zero
//     (" 0.5000", " 0.12345679", " 0.05000").
int FormatAsciiInt(int32_t value, char out[PF_ASCII_NUMBER_SIZE]);
int FormatAsciiReal(double value, char out[PF_ASCII_NUMBER_SIZE]);
