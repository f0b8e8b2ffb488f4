// Queues, latches, the sleep protocol and the worker threads of a pool.
#include "registry.hpp"

#include <sched.h>

#include <algorithm>

namespace quillmere::pool {

namespace {

thread_local WorkerThread* tls_worker = nullptr;
std::atomic<std::size_t> live_workers{0};
std::atomic<std::uint64_t> seed_counter{0};

constexpr std::size_t kWorkerStackSize = std::size_t{2} << 20;

// Seeds of different workers differ and are never zero.
std::uint64_t next_seed() noexcept {
  std::uint64_t z = seed_counter.fetch_add(1, std::memory_order_relaxed) + 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return z == 0 ? 1 : z;
}

struct StartArgument {
  std::shared_ptr<Registry> registry;
  std::size_t index;
};

void* worker_main(void* raw) {
  std::unique_ptr<StartArgument> argument(static_cast<StartArgument*>(raw));
  // The thread keeps its registry alive: a pool whose start failed is
  // released by the last of its threads to end.
  std::shared_ptr<Registry> registry = std::move(argument->registry);
  live_workers.fetch_add(1, std::memory_order_relaxed);
  WorkerThread worker{registry.get(), argument->index, next_seed()};
  tls_worker = &worker;
  worker.wait_until(registry->termination());
  tls_worker = nullptr;
  live_workers.fetch_sub(1, std::memory_order_relaxed);
  return nullptr;
}

}  // namespace

WorkerThread* current_worker() noexcept { return tls_worker; }

std::size_t live_worker_threads() noexcept { return live_workers.load(std::memory_order_relaxed); }

// ---- JobQueue ----------------------------------------------------------------

bool JobQueue::push_back(JobRef job) {
  std::lock_guard lock(mutex_);
  bool was_empty = jobs_.empty();
  jobs_.push_back(job);
  size_.store(jobs_.size(), std::memory_order_release);
  return was_empty;
}

JobRef JobQueue::pop_back() noexcept {
  if (looks_empty()) return {};
  std::lock_guard lock(mutex_);
  if (jobs_.empty()) return {};
  JobRef job = jobs_.back();
  jobs_.pop_back();
  size_.store(jobs_.size(), std::memory_order_release);
  return job;
}

JobRef JobQueue::pop_front() noexcept {
  if (looks_empty()) return {};
  std::lock_guard lock(mutex_);
  if (jobs_.empty()) return {};
  JobRef job = jobs_.front();
  jobs_.pop_front();
  size_.store(jobs_.size(), std::memory_order_release);
  return job;
}

// ---- Latches -------------------------------------------------------------------

void SpinLatch::set() noexcept {
  // Once the state reads "set" the owner may leave the frame holding this
  // latch, so copy what the wake-up needs first.
  Registry* registry = registry_;
  std::size_t owner = owner_;
  if (state_.exchange(kSet, std::memory_order_acq_rel) == kSleeping) registry->sleep().wake_specific(owner);
}

void LockLatch::set() noexcept {
  // Notify under the lock: the waiter may destroy the latch (its thread may
  // end) as soon as it can see the flag.
  std::lock_guard lock(mutex_);
  set_ = true;
  cv_.notify_all();
}

void LockLatch::wait_and_reset() noexcept {
  std::unique_lock lock(mutex_);
  while (!set_) cv_.wait(lock);
  set_ = false;
}

bool LockLatch::wait_for_and_reset(std::chrono::nanoseconds timeout) noexcept {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [this] { return set_; })) return false;
  set_ = false;
  return true;
}

// ---- Sleep -----------------------------------------------------------------------

Sleep::Sleep(std::size_t num_threads) : workers_(new WorkerSleep[num_threads]), num_threads_(num_threads) {}

void Sleep::work_found() noexcept {
  std::uint64_t old = counters_.fetch_sub(kInactiveOne, std::memory_order_seq_cst);
  std::size_t sleeping = old & 0xffff;
  if (sleeping != 0) wake_any(std::min<std::size_t>(sleeping, 2));
}

void Sleep::new_jobs(std::size_t num_jobs, bool queue_was_empty) noexcept {
  std::uint64_t old = counters_.fetch_add(kJobsOne, std::memory_order_seq_cst);
  std::size_t sleeping = old & 0xffff;
  if (sleeping == 0) return;
  if (!queue_was_empty) {
    wake_any(std::min(num_jobs, sleeping));
    return;
  }
  // Awake idle workers will find the job themselves.
  std::size_t inactive = (old >> 16) & 0xffff;
  std::size_t awake_idle = inactive > sleeping ? inactive - sleeping : 0;
  if (num_jobs > awake_idle) wake_any(std::min(num_jobs - awake_idle, sleeping));
}

bool Sleep::wake_specific(std::size_t index) noexcept {
  WorkerSleep& worker = workers_[index];
  std::lock_guard lock(worker.mutex);
  if (!worker.is_blocked) return false;
  worker.is_blocked = false;
  counters_.fetch_sub(kSleepingOne, std::memory_order_seq_cst);
  worker.cv.notify_one();
  return true;
}

void Sleep::wake_any(std::size_t count) noexcept {
  for (std::size_t i = 0; i < num_threads_ && count != 0; ++i) {
    if (wake_specific(i)) --count;
  }
}

void Sleep::wake_all() noexcept {
  for (std::size_t i = 0; i < num_threads_; ++i) wake_specific(i);
}

// ---- Workers -----------------------------------------------------------------------

std::uint64_t WorkerThread::next_random() noexcept {
  std::uint64_t x = rng;
  x ^= x >> 12;
  x ^= x << 25;
  x ^= x >> 27;
  rng = x;
  return x * 0x2545F4914F6CDD1DULL;
}

JobRef WorkerThread::find_work() noexcept {
  if (JobRef job = registry->queue(index).pop_back()) return job;
  std::size_t n = registry->num_threads();
  if (n > 1) {
    std::size_t start = static_cast<std::size_t>(next_random() % n);
    for (std::size_t k = 0; k < n; ++k) {
      std::size_t victim = start + k < n ? start + k : start + k - n;
      if (victim == index) continue;
      if (JobRef job = registry->queue(victim).pop_front()) return job;
    }
  }
  return registry->injector().pop_front();
}

// ---- Registry ------------------------------------------------------------------------

Registry::Registry(std::size_t num_threads)
    : num_threads_(num_threads), queues_(new PaddedQueue[num_threads]), sleep_(num_threads) {}

std::shared_ptr<Registry> Registry::create(std::size_t num_threads, const ThreadPool::Options& options) {
  if (num_threads == 0 || num_threads > 65535) throw ThreadStartError(EINVAL);
  auto registry = std::make_shared<Registry>(num_threads);
  pthread_attr_t attr;
  if (int rc = pthread_attr_init(&attr)) throw ThreadStartError(rc);
  int rc = pthread_attr_setstacksize(&attr, kWorkerStackSize);
  if (rc == 0) {
    rc = pthread_attr_setdetachstate(&attr, options.detached ? PTHREAD_CREATE_DETACHED : PTHREAD_CREATE_JOINABLE);
  }
  if (!options.detached) registry->joinable_.reserve(num_threads);
  for (std::size_t i = 0; i < num_threads && rc == 0; ++i) {
    if (options.start_hook) rc = options.start_hook(i);
    if (rc != 0) break;
    auto* argument = new StartArgument{registry, i};
    pthread_t thread;
    rc = pthread_create(&thread, &attr, worker_main, argument);
    if (rc != 0) {
      delete argument;
      break;
    }
    if (!options.detached) registry->joinable_.push_back(thread);
  }
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    registry->terminate();
    throw ThreadStartError(rc);
  }
  return registry;
}

void Registry::terminate() noexcept {
  terminate_.set();
  sleep_.wake_all();
  for (pthread_t thread : joinable_) pthread_join(thread, nullptr);
  joinable_.clear();
}

void Registry::inject(JobRef job) {
  bool was_empty = injector_.push_back(job);
  sleep_.new_jobs(1, was_empty);
}

}  // namespace quillmere::pool
