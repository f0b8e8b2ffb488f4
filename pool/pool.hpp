// Public surface of the worker pool: one process-wide pool of worker threads
// and the order-preserving batch map that every parallel stage uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "stop.hpp"

namespace quillmere::pool {

// Processes the index range [begin, end) in increasing order, writing each
// result into its own output position. May throw (a Stop, std::bad_alloc...).
using PieceFn = void (*)(void* context, std::size_t begin, std::size_t end);

// The pool's thread count T; starts the pool on first use. Throws a Stop with
// the documented message when the pool could not be started.
std::size_t current_num_threads();

// Runs [0, n) as adaptively split pieces on the pool and blocks until every
// piece has finished. When pieces throw, the exception of the lowest failing
// index is rethrown on the calling thread; n < 2 runs on the calling thread
// (the pool is still started).
void run_batch(std::size_t n, PieceFn piece, void* context);

// Order-preserving batch map: result i is f(in[i]); on failure the exception
// of the lowest failing index propagates and every result is released.
template <class In, class F>
auto batch_map(std::span<const In> in, F&& f)
    -> std::vector<std::decay_t<std::invoke_result_t<F&, const In&>>> {
  using Out = std::decay_t<std::invoke_result_t<F&, const In&>>;
  std::vector<Out> out(in.size());
  struct Context {
    std::span<const In> in;
    Out* out;
    std::remove_reference_t<F>* f;
  } ctx{in, out.data(), &f};
  run_batch(
      in.size(),
      [](void* c, std::size_t begin, std::size_t end) {
        auto& x = *static_cast<Context*>(c);
        for (std::size_t i = begin; i < end; ++i) x.out[i] = (*x.f)(x.in[i]);
      },
      &ctx);
  return out;
}

}  // namespace quillmere::pool
