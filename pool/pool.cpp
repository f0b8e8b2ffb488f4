// Pools as objects, the once-started process-wide pool, and the routing of
// batches to the pool of the current thread.
#include <cstdlib>
#include <system_error>

#include "registry.hpp"

namespace quillmere::pool {

namespace {

thread_local ThreadPool* tls_override = nullptr;

std::string debug_quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

ThreadStartError::ThreadStartError(int code)
    : code_(code),
      debug_("Os { code: " + std::to_string(code) +
             ", message: " + debug_quoted(std::generic_category().message(code)) + " }") {}

// ---- ThreadPool ------------------------------------------------------------------

ThreadPool::ThreadPool(std::size_t num_threads) : ThreadPool(num_threads, Options{}) {}

ThreadPool::ThreadPool(std::size_t num_threads, Options options)
    : registry_(Registry::create(num_threads, options)) {}

ThreadPool::~ThreadPool() { registry_->terminate(); }

std::size_t ThreadPool::num_threads() const noexcept { return registry_->num_threads(); }

void ThreadPool::run_batch(std::size_t n, PieceFn piece, void* context) { registry_->run_batch(n, piece, context); }

std::size_t ThreadPool::sleeping_threads() const noexcept { return registry_->sleep().sleeping(); }

ScopedPool::ScopedPool(ThreadPool& pool) : previous_(tls_override) { tls_override = &pool; }

ScopedPool::~ScopedPool() { tls_override = previous_; }

// ---- PoolCell ----------------------------------------------------------------------

struct PoolCell::State {
  Chooser choose;
  ThreadPool::Options options;
  std::atomic<ThreadPool*> running{nullptr};
  std::mutex mutex;
  bool failed = false;
  std::size_t num_threads = 0;  // chosen once; 0 until then
  std::unique_ptr<ThreadPool> pool;
};

PoolCell::PoolCell(Chooser choose_num_threads, ThreadPool::Options options) : state_(new State) {
  state_->choose = choose_num_threads;
  state_->options = options;
}

PoolCell::~PoolCell() = default;

ThreadPool& PoolCell::get() {
  if (ThreadPool* pool = state_->running.load(std::memory_order_acquire)) return *pool;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (ThreadPool* pool = s.running.load(std::memory_order_relaxed)) return *pool;
  if (s.failed) {
    throw Stop(
        "The global thread pool has not been initialized.: ThreadPoolBuildError { kind: "
        "GlobalPoolAlreadyInitialized }");
  }
  // The environment and the processor count are read once, also across fork.
  if (s.num_threads == 0) s.num_threads = s.choose();
  try {
    s.pool = std::make_unique<ThreadPool>(s.num_threads, s.options);
  } catch (const ThreadStartError& error) {
    s.failed = true;
    throw Stop("The global thread pool has not been initialized.: ThreadPoolBuildError { kind: IOError(" +
               error.debug() + ") }");
  }
  s.running.store(s.pool.get(), std::memory_order_release);
  return *s.pool;
}

bool PoolCell::running() const noexcept { return state_->running.load(std::memory_order_acquire) != nullptr; }

void PoolCell::before_fork() noexcept { state_->mutex.lock(); }

void PoolCell::after_fork_in_parent() noexcept { state_->mutex.unlock(); }

void PoolCell::after_fork_in_child() noexcept {
  State& s = *state_;
  // The workers did not come along and the old pool's locks may be held by
  // them: abandon it untouched (its memory is lost) and start afresh on use.
  if (s.pool) {
    (void)s.pool.release();
    s.running.store(nullptr, std::memory_order_relaxed);
  }
  s.mutex.unlock();
}

// ---- The process-wide pool -------------------------------------------------------

namespace {

std::size_t choose_from_environment() {
  return choose_num_threads(std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"), [] { return num_cpus(); });
}

PoolCell& global_cell() {
  // Never destroyed: detached workers may still run while the process exits.
  static PoolCell* cell = [] {
    auto* c = new PoolCell(&choose_from_environment, ThreadPool::Options{.detached = true, .start_hook = nullptr});
    pthread_atfork([] { global_cell().before_fork(); }, [] { global_cell().after_fork_in_parent(); },
                   [] { global_cell().after_fork_in_child(); });
    return c;
  }();
  return *cell;
}

}  // namespace

// The pool a batch of this thread runs on: the worker's own, the one of an
// enclosing ScopedPool, or the process-wide one (started on first use).
Registry& routed_registry() {
  if (WorkerThread* w = current_worker()) return *w->registry;
  if (ThreadPool* pool = tls_override) return *pool->registry_;
  return *global_cell().get().registry_;
}

std::size_t current_num_threads() { return routed_registry().num_threads(); }

bool pool_running() noexcept {
  return current_worker() != nullptr || tls_override != nullptr || global_cell().running();
}

void run_batch(std::size_t n, PieceFn piece, void* context) { routed_registry().run_batch(n, piece, context); }

BackgroundBatch::BackgroundBatch(std::size_t n, PieceFn piece, void* context)
    : in_flight_(routed_registry().start_batch(n, piece, context)) {}

BackgroundBatch::~BackgroundBatch() = default;

void BackgroundBatch::wait() { in_flight_->wait(); }

bool BackgroundBatch::wait_for(std::chrono::nanoseconds timeout) { return in_flight_->wait_for(timeout); }

}  // namespace quillmere::pool
