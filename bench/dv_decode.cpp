// Decoding one PAL DV frame (12 DIF sequences) into 8-bit planes, side by side with libavcodec's
// DV decoder on the same bytes. The frame is made by libavcodec's DV encoder when the peer is
// there, otherwise from the two sequences in testdata/dv repeated.
// bench-peer: libavcodec-dev
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/dv_decoder.h"
#include "ratio_reporter.h"

#ifdef KALVEX_HAVE_LIBAVCODEC
#include "bench/libavcodec_decode.h"
#endif

namespace {

constexpr int kFrameBytes = DvDecoder::kSequencesPAL * DvDecoder::kSequenceBytes;

#ifdef KALVEX_HAVE_LIBAVCODEC
std::vector<uint8_t> EncodeFrame() {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVVIDEO);
  if (!codec) return {};
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = 720;
  c->height = 576;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, 25};
  std::vector<uint8_t> out;
  if (avcodec_open2(c, codec, nullptr) == 0) {
    AVFrame* f = av_frame_alloc();
    f->width = 720;
    f->height = 576;
    f->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(f, 0);
    for (int p = 0; p < 3; ++p) {
      int w = p ? 360 : 720, h = p ? 288 : 576;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          f->data[p][y * f->linesize[p] + x] =
              uint8_t(128 + 60 * std::sin(x / (7.0 + p) + y / 13.0) * std::cos(y / (5.0 + 3 * p)) +
                      ((x * 7 + y * 13) % 17) - 8);
    }
    AVPacket* pkt = av_packet_alloc();
    if (avcodec_send_frame(c, f) == 0 && avcodec_receive_packet(c, pkt) == 0 &&
        pkt->size == kFrameBytes)
      out.assign(pkt->data, pkt->data + pkt->size);
    av_packet_free(&pkt);
    av_frame_free(&f);
  }
  avcodec_free_context(&c);
  return out;
}
#endif

const std::vector<uint8_t>& Frame() {
  static const std::vector<uint8_t> frame = [] {
    std::vector<uint8_t> data;
#ifdef KALVEX_HAVE_LIBAVCODEC
    data = EncodeFrame();
#endif
    if (data.empty()) {
      std::vector<uint8_t> two(2 * DvDecoder::kSequenceBytes);
      std::string path = std::string(KALVEX_SOURCE_DIR) + "/testdata/dv/pal_sequences_0_1.dv";
      if (FILE* f = std::fopen(path.c_str(), "rb")) {
        if (std::fread(two.data(), 1, two.size(), f) != two.size()) two.clear();
        std::fclose(f);
      }
      for (int s = 0; s < DvDecoder::kSequencesPAL && !two.empty(); ++s)
        data.insert(data.end(), two.begin() + (s % 2) * DvDecoder::kSequenceBytes,
                    two.begin() + (s % 2 + 1) * DvDecoder::kSequenceBytes);
    }
    return data;
  }();
  return frame;
}

void BM_DvDecoderPAL(benchmark::State& state) {
  const std::vector<uint8_t>& frame = Frame();
  if (frame.size() != size_t(kFrameBytes)) {
    state.SkipWithError("no DV frame");
    return;
  }
  std::vector<uint8_t> luma(720 * 576), cb(368 * 288), cr(368 * 288);
  for (auto _ : state) {
    for (int s = 0; s < DvDecoder::kSequencesPAL; ++s)
      DvDecoder::DecodeDVSequencePAL(frame.data() + s * DvDecoder::kSequenceBytes, s, luma.data(),
                                     cb.data(), cr.data());
    benchmark::DoNotOptimize(luma.data());
  }
}
BENCHMARK(BM_DvDecoderPAL)->Unit(benchmark::kMillisecond);

#ifdef KALVEX_HAVE_LIBAVCODEC
void BM_LibavcodecDvPAL(benchmark::State& state) {
  const std::vector<uint8_t>& frame = Frame();
  if (frame.size() != size_t(kFrameBytes)) {
    state.SkipWithError("no frame");
    return;
  }
  DecodeWithLibavcodec(state, AV_CODEC_ID_DVVIDEO, frame.data(), kFrameBytes);
}
BENCHMARK(BM_LibavcodecDvPAL)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter("libavcodec", {{"BM_DvDecoderPAL", "BM_LibavcodecDvPAL"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
