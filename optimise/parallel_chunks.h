// ParallelChunks: runs fn(begin, end) over consecutive chunks of [0, count) on the worker
// pool (the caller takes part). Each index lands in exactly one chunk, so work that writes
// only the outputs of its own indices needs no locks, and the result does not depend on
// the number of threads. An exception from fn is rethrown on the caller after the join.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "foundation/runtime/worker_pool.h"

template <class Fn>
void ParallelChunks(int count, int min_chunk, Fn&& fn) {
  if (count <= 0) return;
  const int threads = std::max(1, WorkerPool::GetNumberOfThreads());
  const int chunks = std::min(threads * 4, count / std::max(1, min_chunk));
  if (threads < 2 || chunks < 2) {
    fn(0, count);
    return;
  }
  using Callable = std::remove_reference_t<Fn>;
  struct Context {
    Callable* fn;
    int count;
    int chunks;
  } context{&fn, count, chunks};
  WorkerPool::ParallelFor(
      &context, nullptr, 1, chunks,
      [](void* c, void* item) {
        const Context& ctx = *static_cast<Context*>(c);
        const int64_t i = reinterpret_cast<std::intptr_t>(item);
        const int begin = static_cast<int>(ctx.count * i / ctx.chunks);
        const int end = static_cast<int>(ctx.count * (i + 1) / ctx.chunks);
        (*ctx.fn)(begin, end);
      },
      true);
}
