// Standard tables of baseline JPEG: the zig-zag order and the example
// quantisation and Huffman tables that files without DQT or DHT segments use.
#pragma once

#include <cstdint>

// kJpegZigZag[k] is the natural (row-major) position of zig-zag index k.
extern const uint8_t kJpegZigZag[64];

// Example quantisation tables, natural (row-major) order.
extern const uint8_t kJpegStdLumaQuant[64];
extern const uint8_t kJpegStdChromaQuant[64];

// Example Huffman tables: 16 code-length counts (lengths 1 to 16) and the
// symbol values in code order.
extern const uint8_t kJpegStdDcLumaBits[16];
extern const uint8_t kJpegStdDcLumaValues[12];
extern const uint8_t kJpegStdDcChromaBits[16];
extern const uint8_t kJpegStdDcChromaValues[12];
extern const uint8_t kJpegStdAcLumaBits[16];
extern const uint8_t kJpegStdAcLumaValues[162];
extern const uint8_t kJpegStdAcChromaBits[16];
extern const uint8_t kJpegStdAcChromaValues[162];
