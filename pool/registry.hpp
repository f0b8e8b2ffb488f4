// Internals of a pool: job queues, latches, the sleep protocol and the
// workers. Only pool/*.cpp include this; the surface is pool.hpp.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "pool.hpp"

namespace quillmere::pool {

// A job handed between threads; the record it points to lives in the frame
// of the thread that made it, which waits for the job's latch before leaving.
struct JobRef {
  void (*execute)(void* data) = nullptr;
  void* data = nullptr;
  explicit operator bool() const noexcept { return execute != nullptr; }
};

// A double-ended job queue. The owner pushes and pops at the back (last in,
// first out); thieves and the injection queue's readers take from the front.
class JobQueue {
 public:
  // Returns whether the queue was empty before the push.
  bool push_back(JobRef job);
  JobRef pop_back() noexcept;
  JobRef pop_front() noexcept;
  // A hint without locking; the sleep protocol, not this, prevents lost jobs.
  bool looks_empty() const noexcept { return size_.load(std::memory_order_acquire) == 0; }

 private:
  std::mutex mutex_;
  std::deque<JobRef> jobs_;
  std::atomic<std::size_t> size_{0};
};

class Registry;

// Completion flag of a job pushed by a worker; setting it wakes that worker
// if it went to sleep waiting for it.
class SpinLatch {
 public:
  SpinLatch(Registry& registry, std::size_t owner) noexcept : registry_(&registry), owner_(owner) {}
  bool probe() const noexcept { return state_.load(std::memory_order_acquire) == kSet; }
  void set() noexcept;
  // Sleep protocol: the owner marks that it is going to sleep; false when
  // the latch is already set.
  bool fall_asleep() noexcept {
    std::uint8_t expected = kUnset;
    return state_.compare_exchange_strong(expected, kSleeping, std::memory_order_acq_rel);
  }
  void wake_up() noexcept {
    std::uint8_t expected = kSleeping;
    state_.compare_exchange_strong(expected, kUnset, std::memory_order_acq_rel);
  }

 private:
  static constexpr std::uint8_t kUnset = 0, kSleeping = 2, kSet = 3;
  std::atomic<std::uint8_t> state_{kUnset};
  Registry* registry_;
  std::size_t owner_;
};

// The termination latch that every worker's main loop waits for.
class TerminateLatch {
 public:
  bool probe() const noexcept { return set_.load(std::memory_order_acquire); }
  bool fall_asleep() const noexcept { return !probe(); }
  void wake_up() const noexcept {}
  void set() noexcept { set_.store(true, std::memory_order_release); }

 private:
  std::atomic<bool> set_{false};
};

// Completion flag of a job handed in from outside; the outside thread blocks
// on it. One per outside thread, reused.
class LockLatch {
 public:
  void set() noexcept;
  void wait_and_reset() noexcept;
  // Waits at most `timeout`; true (and reset) when the latch was set.
  bool wait_for_and_reset(std::chrono::nanoseconds timeout) noexcept;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

// Idle bookkeeping of one search for work.
struct IdleState {
  std::uint32_t rounds = 0;
  std::uint32_t jobs_counter = 0;
};

// Sleep protocol. One atomic word packs the sleeping workers (bits 0-15), the
// inactive workers (bits 16-31) and a counter of job events (bits 32-63):
// a worker about to sleep re-reads the counter in the same read-modify-write
// that counts it asleep, and every push bumps the counter before looking for
// sleepers, so a job pushed at any moment is either seen or wakes someone.
class Sleep {
 public:
  explicit Sleep(std::size_t num_threads);

  void start_looking() noexcept { counters_.fetch_add(kInactiveOne, std::memory_order_seq_cst); }
  // Became active to run a found job: wakes up to two sleepers.
  void work_found() noexcept;
  // Left a search because the awaited latch was set.
  void stop_looking() noexcept { counters_.fetch_sub(kInactiveOne, std::memory_order_seq_cst); }
  // After pushing num_jobs jobs onto a queue.
  void new_jobs(std::size_t num_jobs, bool queue_was_empty) noexcept;
  void wake_all() noexcept;
  bool wake_specific(std::size_t index) noexcept;

  template <class Latch, class Visible>
  void no_work_found(std::size_t index, IdleState& idle, Latch& latch, Visible&& jobs_visible) noexcept;

  std::size_t sleeping() const noexcept { return counters_.load(std::memory_order_acquire) & 0xffff; }

 private:
  static constexpr std::uint64_t kSleepingOne = 1;
  static constexpr std::uint64_t kInactiveOne = std::uint64_t{1} << 16;
  static constexpr std::uint64_t kJobsOne = std::uint64_t{1} << 32;
  static constexpr std::uint32_t kRoundsUntilSleepy = 32;

  void wake_any(std::size_t count) noexcept;

  struct alignas(64) WorkerSleep {
    std::mutex mutex;
    std::condition_variable cv;
    bool is_blocked = false;
  };
  std::unique_ptr<WorkerSleep[]> workers_;
  std::size_t num_threads_;
  alignas(64) std::atomic<std::uint64_t> counters_{0};
};

class Registry;

struct WorkerThread {
  Registry* registry;
  std::size_t index;
  std::uint64_t rng;

  JobRef find_work() noexcept;
  template <class Latch>
  void wait_until(Latch& latch) noexcept;
  std::uint64_t next_random() noexcept;
};

// The worker running on this thread, if any.
WorkerThread* current_worker() noexcept;

// A batch started by Registry::start_batch; wait() blocks until it has ended
// and rethrows its failure.
class BatchInFlight {
 public:
  virtual ~BatchInFlight() = default;
  virtual void wait() = 0;
  // Whether every piece has ended, waiting at most `timeout` for it.
  virtual bool wait_for(std::chrono::nanoseconds timeout) = 0;
};

class Registry {
 public:
  // Starts the threads; throws ThreadStartError after ending the ones started.
  static std::shared_ptr<Registry> create(std::size_t num_threads, const ThreadPool::Options& options);

  explicit Registry(std::size_t num_threads);
  std::size_t num_threads() const noexcept { return num_threads_; }

  void run_batch(std::size_t n, PieceFn piece, void* context);
  // The batch handed in without waiting for it (run at once, to its end,
  // when called on a worker or when it does not split).
  std::unique_ptr<BatchInFlight> start_batch(std::size_t n, PieceFn piece, void* context);

  // Ends the workers; joins them unless detached.
  void terminate() noexcept;

  JobQueue& queue(std::size_t index) noexcept { return queues_[index].queue; }
  JobQueue& injector() noexcept { return injector_; }
  Sleep& sleep() noexcept { return sleep_; }
  TerminateLatch& termination() noexcept { return terminate_; }
  void inject(JobRef job);

 private:
  struct alignas(64) PaddedQueue {
    JobQueue queue;
  };
  std::size_t num_threads_;
  std::unique_ptr<PaddedQueue[]> queues_;
  JobQueue injector_;
  Sleep sleep_;
  TerminateLatch terminate_;
  std::vector<pthread_t> joinable_;
};

// ---- Templates of the search loop -------------------------------------------

template <class Latch, class Visible>
void Sleep::no_work_found(std::size_t index, IdleState& idle, Latch& latch, Visible&& jobs_visible) noexcept {
  if (idle.rounds < kRoundsUntilSleepy) {
    sched_yield();
    ++idle.rounds;
    return;
  }
  if (idle.rounds == kRoundsUntilSleepy) {
    // Announce: remember the job-event count; any push after this keeps us up.
    idle.jobs_counter = static_cast<std::uint32_t>(counters_.load(std::memory_order_seq_cst) >> 32);
    ++idle.rounds;
    sched_yield();
    return;
  }
  if (!latch.fall_asleep()) {
    idle.rounds = 0;
    return;
  }
  WorkerSleep& me = workers_[index];
  std::unique_lock lock(me.mutex);
  me.is_blocked = true;
  std::uint64_t old = counters_.fetch_add(kSleepingOne, std::memory_order_seq_cst);
  if (static_cast<std::uint32_t>(old >> 32) != idle.jobs_counter || latch.probe() || jobs_visible()) {
    me.is_blocked = false;
    counters_.fetch_sub(kSleepingOne, std::memory_order_seq_cst);
    lock.unlock();
    latch.wake_up();
    idle.rounds = kRoundsUntilSleepy;
    return;
  }
  // Whoever wakes us clears is_blocked and takes us off the sleeping count.
  while (me.is_blocked) me.cv.wait(lock);
  lock.unlock();
  latch.wake_up();
  idle.rounds = 0;
}

template <class Latch>
void WorkerThread::wait_until(Latch& latch) noexcept {
  if (latch.probe()) return;
  Sleep& sleep = registry->sleep();
  IdleState idle;
  sleep.start_looking();
  while (!latch.probe()) {
    if (JobRef job = find_work()) {
      sleep.work_found();
      job.execute(job.data);
      idle = IdleState{};
      sleep.start_looking();
    } else {
      sleep.no_work_found(index, idle, latch, [this] {
        return !registry->queue(index).looks_empty() || !registry->injector().looks_empty();
      });
    }
  }
  sleep.stop_looking();
  // A job handed in while we counted as an awake idle worker may have woken
  // nobody on our account; pass it on before returning to our own work.
  if (sleep.sleeping() != 0 && !registry->injector().looks_empty()) sleep.new_jobs(1, false);
}

}  // namespace quillmere::pool
