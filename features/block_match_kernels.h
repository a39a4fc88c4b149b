// Image kernels of the block-matching tracker: 2:1 decimation of BGRA images,
// fixed-point block resamplers, exhaustive block search by sum of absolute
// differences and gradient-based sub-pixel refinement.
//
// Images are 32-bit pixels of four 8-bit channels in memory order B, G, R, A,
// given as a pointer to the first pixel, a row stride in pixels, a width and a
// height. Positions are in pixel units with pixel i centred at i. Every
// function is re-entrant: all scratch memory is local to the call.
//
// Fixed-point scales: plain interpolation kernels sum to 32768; 16-bit plain
// block samples carry pixel value x 32 (plus the constant 6 of the vertical
// pass); derivative kernels are scaled by 16384 over the plain weight sum.
//
// Where a packed (SSE2, and for the horizontal passes AVX2 chosen at run time)
// form exists it gives bit-identical results to the portable scalar form in
// namespace scalar_kernels, which tests compare.
#pragma once

#include <cstdint>

// One match: the feature in the source image (never changed here) and the
// estimate in the target image (updated by the matcher).
struct BlockMatchPosition {
  double source_x = 0.0;
  double source_y = 0.0;
  double target_x = 0.0;
  double target_y = 0.0;
};

// Result codes of MatchBlockSAD and RefineBlockSubPixel; a non-negative value
// from MatchBlockSAD without refinement is the match cost.
enum BlockMatchResult : int {
  kBlockMatchOk = 0,
  kBlockMatchBadSize = -1,   // block width or height below 1
  kBlockMatchOutside = -2,   // block outside the target (matcher)
  kBlockMatchSingular = -2,  // singular gradient system (refinement)
  kBlockMatchMovedFar = -3,  // refinement moved more than 2 pixels
};

// Writes (width / 2) x (height / 2) pixels to dst (row stride dstStride).
// Width or height below 2 writes nothing. Width 2 or 3: one column of 2x2
// ceiling averages. Width 4 or more: a (-1, 3, 14, 14, 3, -1) half-band filter
// in both directions: the first and last output columns average their own
// source pair, rows beyond the edges repeat the edge row. Widths 4 to 7 follow
// the same rule (2 or 3 output columns). An odd last row or column is ignored.
void HalveImageRGBA(uint32_t* dst, int dstStride, const uint32_t* src, int srcStride, int width,
                    int height);

// Fixed-point kernels for fraction f = x - trunc(x) (negative for negative x):
// taps for pixel offsets -2..+3 (six) or -3..+4 (eight) from trunc(x).
// a > 0: windowed sinc with lobes a and radius 3 (six) or 4 (eight);
// a <= 0: Gaussian exp(a t^2). Plain kernels are scaled to sum 32768, with the
// centre excess rule; the derivative kernel (a <= 0) is 2 a t exp(a t^2) less
// its DC part (the plain weights times its sum over theirs: the derivative of
// the normalised interpolation), scaled by 16384 over the plain weight sum, so
// its taps sum to exactly 0. Taps are rounded half away from zero and saturated
// to int16; a derivative kernel's rounding residue goes to its offset-0 tap.
void MakeKernel6(double f, double a, int16_t taps[6]);
void MakeKernel8(double f, double a, int16_t taps[8]);
void MakeDerivativeKernel8(double f, double a, int16_t taps[8]);

// 8-bit BGRA block of bw x bh pixels (dst row stride in pixels) interpolated
// from src with its top-left pixel at (x, y), six-tap kernels of parameter a.
// Source taps beyond the image repeat the edge pixels. Intermediate 16-bit
// samples saturate (only reachable with extreme kernel parameters).
void ResampleBlock6(const uint32_t* src, int stride, int width, int height, uint32_t* dst,
                    int dstStride, int bw, int bh, double x, double y, double a);

// 16-bit block: four int16 samples per pixel (B, G, R, A), dst row stride in
// samples. Plain samples (value x 32 + 6) or, per flag, the x and/or y
// derivative; eight-tap kernels of parameter a (a <= 0).
void ResampleBlock8(const uint32_t* src, int stride, int width, int height, int16_t* dst,
                    int dstStride, int bw, int bh, double x, double y, bool derivX, bool derivY,
                    double a);

// Sum over n pixels of |dB| + |dG| + |dR| + |dA|.
uint32_t SumAbsDiffBGRA(const uint32_t* a, const uint32_t* b, int n);

// Copies the ww x wh window with top-left (left, top) of the image into dst
// (rows contiguous); pixels outside the image are 0 in all four channels.
void CopyBlockWindow(const uint32_t* image, int stride, int width, int height, int left, int top,
                     int ww, int wh, uint32_t* dst);

// The 20 sums of one refinement step over n pixels of four int16 samples,
// with e = s - t per channel c: sums[kind * 4 + c] for kind 0..4 =
// Σ e·gx, Σ e·gy, Σ gx·gx, Σ gx·gy, Σ gy·gy. Products in 32 bits, sums in 64.
enum BlockCrossSum { kSumEGx = 0, kSumEGy = 1, kSumGxGx = 2, kSumGxGy = 3, kSumGyGy = 4 };
void BlockCrossSums(const int16_t* s, const int16_t* t, const int16_t* gx, const int16_t* gy, int n,
                    int64_t sums[20]);

// Gradient refinement of pos's target around the source block (bw x bh
// centred on the source position); up to `iterations` steps. Returns 0 on
// success (the target moved by the accumulated offset), -1 bad block size,
// -2 singular system, -3 offset beyond 2 pixels; on failure the target keeps
// its value. Iterations below 1 return 0 and change nothing.
int RefineBlockSubPixel(BlockMatchPosition& pos, const uint32_t* src, const uint32_t* tgt,
                        int stride, int width, int height, int bw, int bh, int iterations);

// Integer search of the bw x bh source template (centred on the source
// position) in the target within +-rangeX, +-rangeY around the current
// target, cost SAD + 4 (|dx| + |dy|), first minimum in dx-major order wins.
// Then refinement when iterations >= 1. Both images share stride, width and
// height. Returns -1 bad block size, -2 block origin outside the target, the
// best cost (2147483647 when both ranges are 0), or the refinement's result.
int MatchBlockSAD(BlockMatchPosition& pos, const uint32_t* src, const uint32_t* tgt, int stride,
                  int width, int height, int bw, int bh, int rangeX, int rangeY, int iterations);

// A candidate of the integer search: the target it gives and its cost.
struct BlockMatchCandidate {
  double target_x = 0.0;
  double target_y = 0.0;
  int cost = 0;
};

// MatchBlockSAD's integer search (no refinement, pos unchanged) keeping up to `count`
// (at most 64; below 1 keeps none) candidates in out: first MatchBlockSAD's own choice, then
// further strict local minima of the cost by increasing cost, none next to (within one offset of)
// one kept before, so each lies in a basin of its own. Returns how many were kept (1 when both
// ranges are 0: the target itself, cost 2147483647), or -1 / -2 as MatchBlockSAD.
// A block whose best match lies in the wrong basin (a coarse block that follows its
// surroundings) often has the right one among the next.
int SearchBlockCandidates(const BlockMatchPosition& pos, const uint32_t* src, const uint32_t* tgt,
                          int stride, int width, int height, int bw, int bh, int rangeX, int rangeY,
                          BlockMatchCandidate* out, int count);

// The SSE2 forms of the resamplers, where the default ones take AVX2 when the
// processor has it; for comparing the forms.
namespace sse2_kernels {
void ResampleBlock6(const uint32_t* src, int stride, int width, int height, uint32_t* dst,
                    int dstStride, int bw, int bh, double x, double y, double a);
void ResampleBlock8(const uint32_t* src, int stride, int width, int height, int16_t* dst,
                    int dstStride, int bw, int bh, double x, double y, bool derivX, bool derivY,
                    double a);
}  // namespace sse2_kernels

// The portable forms of the kernels that have a packed form.
namespace scalar_kernels {
uint32_t SumAbsDiffBGRA(const uint32_t* a, const uint32_t* b, int n);
void ResampleBlock6(const uint32_t* src, int stride, int width, int height, uint32_t* dst,
                    int dstStride, int bw, int bh, double x, double y, double a);
void ResampleBlock8(const uint32_t* src, int stride, int width, int height, int16_t* dst,
                    int dstStride, int bw, int bh, double x, double y, bool derivX, bool derivY,
                    double a);
}  // namespace scalar_kernels
