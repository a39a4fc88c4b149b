// The libavcodec side of the decoding benchmarks: the same bytes decoded as one packet per
// iteration, on one thread. Include only when KALVEX_HAVE_LIBAVCODEC is defined.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

inline void DecodeWithLibavcodec(benchmark::State& state, AVCodecID id, const uint8_t* data,
                                 int size) {
  const AVCodec* codec = avcodec_find_decoder(id);
  AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!c) {
    state.SkipWithError("no decoder");
    return;
  }
  c->thread_count = 1;
  avcodec_open2(c, codec, nullptr);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* f = av_frame_alloc();
  for (auto _ : state) {
    pkt->data = const_cast<uint8_t*>(data);
    pkt->size = size;
    if (avcodec_send_packet(c, pkt) != 0 || avcodec_receive_frame(c, f) != 0) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(f->data[0]);
  }
  av_frame_free(&f);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
}
