// A batch on one pool: adaptive splitting of [0, n) into pieces, joined two
// at a time so that the left piece's failure always wins over the right's.
#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include "registry.hpp"

namespace quillmere::pool {

namespace {

struct Batch {
  Registry* registry;
  PieceFn piece;
  void* context;
  std::size_t num_threads;
};

// Split budget: a piece that is not migrated halves it and stops at 0; a
// migrated piece (stolen, or handed in from outside) restores it to at
// least T, so that work which moved to an idle thread is split again.
bool try_split(std::size_t& splits, bool migrated, std::size_t num_threads) noexcept {
  if (migrated) {
    splits = std::max(splits / 2, num_threads);
    return true;
  }
  if (splits > 0) {
    splits /= 2;
    return true;
  }
  return false;
}

void bridge(const Batch& batch, std::size_t begin, std::size_t len, std::size_t splits, bool migrated);

// The right half of a split, waiting in its maker's queue to be run there or
// stolen.
struct RightJob {
  const Batch* batch;
  std::size_t begin;
  std::size_t len;
  std::size_t splits;
  SpinLatch latch;
  std::exception_ptr error;

  static void execute(void* data) noexcept {
    auto* job = static_cast<RightJob*>(data);
    try {
      bridge(*job->batch, job->begin, job->len, job->splits, true);
    } catch (...) {
      job->error = std::current_exception();
    }
    job->latch.set();
  }
};

// Runs the two halves of [begin, begin + len) on worker w: the right half is
// offered to other workers, the left runs here. Both always run to their end
// or first failure; the left failure is preferred.
void join_halves(WorkerThread& w, bool injected, const Batch& batch, std::size_t begin, std::size_t len,
                 std::size_t splits) {
  std::size_t mid = len / 2;
  RightJob right{&batch, begin + mid, len - mid, splits, SpinLatch(*w.registry, w.index), nullptr};
  JobQueue& queue = w.registry->queue(w.index);
  bool was_empty = queue.push_back(JobRef{&RightJob::execute, &right});
  w.registry->sleep().new_jobs(1, was_empty);

  std::exception_ptr left_error;
  try {
    bridge(batch, begin, mid, splits, injected);
  } catch (...) {
    left_error = std::current_exception();
  }
  if (left_error) {
    w.wait_until(right.latch);
    std::rethrow_exception(left_error);
  }
  while (!right.latch.probe()) {
    JobRef job = queue.pop_back();
    if (!job) {
      w.wait_until(right.latch);
      break;
    }
    if (job.data == &right) {
      // Not stolen: run it here; its failure passes straight on.
      bridge(batch, begin + mid, len - mid, splits, injected);
      return;
    }
    job.execute(job.data);
  }
  if (right.error) std::rethrow_exception(right.error);
}

// The first split of a batch started outside the pool, handed in whole.
struct InjectedJob {
  const Batch* batch;
  std::size_t len;
  std::size_t splits;
  LockLatch* latch;
  std::exception_ptr error;

  static void execute(void* data) noexcept {
    auto* job = static_cast<InjectedJob*>(data);
    try {
      join_halves(*current_worker(), true, *job->batch, 0, job->len, job->splits);
    } catch (...) {
      job->error = std::current_exception();
    }
    job->latch->set();
  }
};

LockLatch& outside_latch() {
  thread_local LockLatch latch;
  return latch;
}

void bridge(const Batch& batch, std::size_t begin, std::size_t len, std::size_t splits, bool migrated) {
  if (len / 2 >= 1 && try_split(splits, migrated, batch.num_threads)) {
    WorkerThread* w = current_worker();
    if (w != nullptr && w->registry == batch.registry) {
      join_halves(*w, false, batch, begin, len, splits);
      return;
    }
    // Outside the pool (only the first split of a batch gets here): hand the
    // join in and block until a worker has finished it.
    LockLatch& latch = outside_latch();
    InjectedJob job{&batch, len, splits, &latch, nullptr};
    batch.registry->inject(JobRef{&InjectedJob::execute, &job});
    latch.wait_and_reset();
    if (job.error) std::rethrow_exception(job.error);
    return;
  }
  batch.piece(batch.context, begin, begin + len);
}

std::size_t initial_splits(std::size_t num_threads, std::size_t n) {
  return std::max(num_threads, n / std::numeric_limits<std::size_t>::max());
}

// A started batch: the state that its injected first split refers to.
class InjectedBatch final : public BatchInFlight {
 public:
  InjectedBatch(Registry* registry, std::size_t n, PieceFn piece, void* context, std::size_t num_threads)
      : batch_{registry, piece, context, num_threads},
        job_{&batch_, n, initial_splits(num_threads, n), &latch_, nullptr} {
    // The first split, as bridge() makes it for a batch from outside.
    try_split(job_.splits, false, num_threads);
    registry->inject(JobRef{&InjectedJob::execute, &job_});
  }
  // Waits even when wait() was not called: the workers use this object.
  ~InjectedBatch() override {
    if (!waited_) latch_.wait_and_reset();
  }

  void wait() override {
    if (!waited_) latch_.wait_and_reset();
    waited_ = true;
    if (job_.error) std::rethrow_exception(std::exchange(job_.error, nullptr));
  }

  bool wait_for(std::chrono::nanoseconds timeout) override {
    if (!waited_) waited_ = latch_.wait_for_and_reset(timeout);
    return waited_;
  }

 private:
  Batch batch_;
  LockLatch latch_;
  InjectedJob job_;
  bool waited_ = false;
};

// A batch that ran on the calling thread: only its failure is left.
class FinishedBatch final : public BatchInFlight {
 public:
  explicit FinishedBatch(std::exception_ptr error) : error_(std::move(error)) {}
  void wait() override {
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }
  bool wait_for(std::chrono::nanoseconds) override { return true; }

 private:
  std::exception_ptr error_;
};

}  // namespace

void Registry::run_batch(std::size_t n, PieceFn piece, void* context) {
  if (n < 2) {
    if (n == 1) piece(context, 0, 1);
    return;
  }
  Batch batch{this, piece, context, num_threads_};
  bridge(batch, 0, n, initial_splits(num_threads_, n), false);
}

std::unique_ptr<BatchInFlight> Registry::start_batch(std::size_t n, PieceFn piece, void* context) {
  WorkerThread* w = current_worker();
  // Handed in whole only from outside and when the first split happens (the
  // budget is at least T >= 1 there, so it does whenever n >= 2).
  if ((w == nullptr || w->registry != this) && n >= 2) {
    return std::make_unique<InjectedBatch>(this, n, piece, context, num_threads_);
  }
  std::exception_ptr error;
  try {
    run_batch(n, piece, context);
  } catch (...) {
    error = std::current_exception();
  }
  return std::make_unique<FinishedBatch>(std::move(error));
}

}  // namespace quillmere::pool
