// Public surface of the worker pool: one process-wide pool of worker threads
// and the order-preserving batch map that every parallel stage uses.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/stop.hpp"

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

// Whether batches of this thread would run on a pool that is already
// running, so that starting one cannot fail: on a worker, inside a
// ScopedPool, or once the process-wide pool has started.
bool pool_running() noexcept;

class Registry;
class BatchInFlight;

// A batch handed to the pool while the calling thread does other work, with
// run_batch's routing, pieces and failure rule. The constructor starts it;
// wait() blocks until every piece has ended and rethrows the failure that
// run_batch would have thrown. The pieces' context must outlive the object,
// whose destructor waits (without throwing) when wait() was not called.
class BackgroundBatch {
 public:
  BackgroundBatch(std::size_t n, PieceFn piece, void* context);
  ~BackgroundBatch();
  BackgroundBatch(const BackgroundBatch&) = delete;
  BackgroundBatch& operator=(const BackgroundBatch&) = delete;
  void wait();
  // Whether every piece has ended, waiting at most `timeout`; wait() then
  // returns at once (rethrowing the failure, if any). Lets a caller that
  // must stay responsive (to signals, say) wait in slices.
  bool wait_for(std::chrono::nanoseconds timeout);

 private:
  std::unique_ptr<BatchInFlight> in_flight_;
};

// A pool of T worker threads. The process-wide pool is one of these, started
// once and never destroyed; tests and benchmarks make their own to run with a
// chosen T.
class ThreadPool {
 public:
  struct Options {
    // Detached threads end on their own after destruction; otherwise the
    // destructor joins them.
    bool detached = false;
    // Test hook: called before each thread start with the worker's index; a
    // non-zero result is taken as the operating-system error of that start.
    int (*start_hook)(std::size_t index) = nullptr;
  };

  // Throws ThreadStartError when a thread cannot be started (the threads
  // already started are ended).
  explicit ThreadPool(std::size_t num_threads);
  ThreadPool(std::size_t num_threads, Options options);
  // No batch may be running on the pool.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  std::size_t num_threads() const noexcept;
  void run_batch(std::size_t n, PieceFn piece, void* context);

  // Workers currently asleep on their condition variable (for tests).
  std::size_t sleeping_threads() const noexcept;

 private:
  friend Registry& routed_registry();
  std::shared_ptr<Registry> registry_;
};

// A failed thread start, with the operating-system error code.
class ThreadStartError : public std::exception {
 public:
  explicit ThreadStartError(int code);
  const char* what() const noexcept override { return debug_.c_str(); }
  int code() const noexcept { return code_; }
  // Debug form of the error: Os { code: 11, message: "..." }.
  const std::string& debug() const noexcept { return debug_; }

 private:
  int code_;
  std::string debug_;
};

// While alive, batches started on this thread (when it is not a worker) run
// on `pool` instead of the process-wide pool. Nests.
class ScopedPool {
 public:
  explicit ScopedPool(ThreadPool& pool);
  ~ScopedPool();
  ScopedPool(const ScopedPool&) = delete;
  ScopedPool& operator=(const ScopedPool&) = delete;

 private:
  ThreadPool* previous_;
};

// A pool started at most once, by its first request; a failed start is never
// retried. The process-wide pool lives in one of these.
class PoolCell {
 public:
  using Chooser = std::size_t (*)();
  PoolCell(Chooser choose_num_threads, ThreadPool::Options options);
  ~PoolCell();
  PoolCell(const PoolCell&) = delete;
  PoolCell& operator=(const PoolCell&) = delete;

  // The running pool, or a Stop with the documented messages: the IOError
  // form on the request that made the failed attempt, the
  // GlobalPoolAlreadyInitialized form on every later one.
  ThreadPool& get();
  // Whether a pool has been started and get() returns it without trying.
  bool running() const noexcept;

  // fork() hooks: in the child the pool's threads are gone, so the cell
  // forgets the pool and starts a new one with the same T on next use.
  void before_fork() noexcept;
  void after_fork_in_parent() noexcept;
  void after_fork_in_child() noexcept;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// ---- Sizing ----------------------------------------------------------------

// An unsigned 64-bit decimal: optional "+", one or more digits, nothing else.
std::optional<std::uint64_t> parse_count(std::string_view text);

// T from the two variables' values (null when unset), else num_cpus(); at
// most 65535. num_cpus is only called when needed.
std::size_t choose_num_threads(const char* rayon_num_threads, const char* rayon_rs_num_cpus,
                               const std::function<std::size_t()>& num_cpus);

// Where the control-group files are read; tests point these at fixtures.
struct CgroupFiles {
  std::string proc_cgroup = "/proc/self/cgroup";
  std::string mountinfo = "/proc/self/mountinfo";
  std::string root;  // prefix of the group directory (the mount point)
};

// The control group's CPU quota rounded up, or nothing when no quota applies.
std::optional<std::uint64_t> cgroup_cpu_quota(const CgroupFiles& files);

// Members of this thread's affinity set, or the online processor count.
std::size_t logical_cpu_count();

// The processor count: the quota (read once per process) capped by the
// logical count.
std::size_t num_cpus();

// Worker threads of every pool that are currently running (for tests).
std::size_t live_worker_threads() noexcept;

// ---- Batch map -------------------------------------------------------------

namespace detail {
// Result i = f(in[i]) written into place; with Consume, each element is also
// released by the worker that mapped it, so large inputs are freed in
// parallel rather than afterwards on the calling thread.
template <bool Consume, class In, class F, class Run>
auto batch_map_with(In* in, std::size_t n, F& f, Run&& run)
    -> std::vector<std::decay_t<std::invoke_result_t<F&, const In&>>> {
  using Out = std::decay_t<std::invoke_result_t<F&, const In&>>;
  std::vector<Out> out(n);
  struct Context {
    In* in;
    Out* out;
    F* f;
  } ctx{in, out.data(), &f};
  run(
      n,
      [](void* c, std::size_t begin, std::size_t end) {
        auto& x = *static_cast<Context*>(c);
        for (std::size_t i = begin; i < end; ++i) {
          x.out[i] = (*x.f)(static_cast<const In&>(x.in[i]));
          if constexpr (Consume) x.in[i] = In();
        }
      },
      &ctx);
  return out;
}

inline void run_on_process_pool(std::size_t n, PieceFn piece, void* ctx) { run_batch(n, piece, ctx); }
}  // namespace detail

// Order-preserving batch map: result i is f(in[i]); on failure the exception
// of the lowest failing index propagates and every result is released.
template <class In, class F>
auto batch_map(std::span<const In> in, F&& f)
    -> std::vector<std::decay_t<std::invoke_result_t<F&, const In&>>> {
  return detail::batch_map_with<false>(in.data(), in.size(), f, detail::run_on_process_pool);
}

// The same, consuming the input list: it is released by the time the map
// returns, each element on the worker that mapped it.
template <class In, class F>
auto batch_map(std::vector<In>&& in, F&& f)
    -> std::vector<std::decay_t<std::invoke_result_t<F&, const In&>>> {
  auto out = detail::batch_map_with<true>(in.data(), in.size(), f, detail::run_on_process_pool);
  std::vector<In>().swap(in);
  return out;
}

// The same on a given pool.
template <class In, class F>
auto batch_map(ThreadPool& pool, std::span<const In> in, F&& f)
    -> std::vector<std::decay_t<std::invoke_result_t<F&, const In&>>> {
  return detail::batch_map_with<false>(
      in.data(), in.size(), f, [&pool](std::size_t n, PieceFn piece, void* ctx) { pool.run_batch(n, piece, ctx); });
}

}  // namespace quillmere::pool
