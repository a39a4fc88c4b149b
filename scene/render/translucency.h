// Blending of the translucent accumulator into the colour rows, and the supersample
// resolve.
//
// A sample's accumulator holds j translucent layers (the count lane's upper six bits) and
// the sum n of their weights (its lower ten bits, 1 to 15 per layer). The blend table
// gives, per count lane, the layers' weight a = 0x8000 / j (0x7fff for one layer) and the
// background's weight b = 0xffff − ((n × a) >> 3); a channel becomes
// (a × lane + b × background) >> 16: the background weighted by one minus the mean layer
// weight / 16, plus the mean of the layers' weighted colours. Blending clears the
// accumulator and leaves alpha 0.
//
// Supersampling with F samples per pixel along each axis: a target row is drawn as F
// sample rows F times as wide. A sample that no opaque item wrote (depth value 0) stands
// for the target pixel it lies in. DownsampleRow adds each pixel's F blended samples of
// one sample row to its sums (blue and green in the low and high halves of one 32-bit
// word, red in a second), and AverageSampleSums divides by the number N of samples summed,
// with a multiply and a shift for N up to 16 (as the table in the source; N = 3 is
// × 85 >> 8), and clears the sums. F is at most 16, so 255 × N fits the 16-bit halves.
//
// The table is built before first use and only read afterwards.
#pragma once

#include <cstdint>

class TranslucencyTable {
 public:
  static constexpr int kMaxSampleFactor = 16;

  struct Weights {
    std::uint16_t background;
    std::uint16_t layers;
  };

  // The process-wide table.
  static const TranslucencyTable& Get();
  Weights Entry(std::uint32_t count_lane) const { return entries_[count_lane]; }

  // Blends every sample whose count lane is not 0 into its colour and clears it.
  void ResolveRow(std::uint32_t* color, std::uint64_t* accum, int length) const;
  // Adds the F blended samples of each of length target pixels to sums (2 words each):
  // samples where depth is above 0, else the target pixel, blended with accum (cleared
  // after). accum may be null when the sample row holds no translucent layer.
  void DownsampleRow(std::uint32_t* sums, const std::uint32_t* samples, const float* depth,
                     const std::uint32_t* target, std::uint64_t* accum, int f, int length) const;

 private:
  TranslucencyTable();
  void Build();

  Weights entries_[65536];
};

// sums of N samples per pixel → R << 16 | G << 8 | B (alpha 0); the sums are cleared.
void AverageSampleSums(std::uint32_t* sums, std::uint32_t* target, int n, int length);
