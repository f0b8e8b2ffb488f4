// Batches on pools of several sizes: piece layout, which failure wins, that
// every piece still runs, threads, nesting, stealing and sleeping.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <thread>

#include "pool/pool.hpp"

namespace qp = quillmere::pool;
using quillmere::Stop;

namespace {

// Records each piece (its range and thread) and each processed index; throws
// at the indices marked as failing.
struct Recorder {
  explicit Recorder(std::size_t n) : processed(n), fails(n, false) {}

  struct Piece {
    std::size_t begin, end;
    pthread_t thread;
  };
  std::mutex mutex;
  std::vector<Piece> pieces;
  std::vector<std::atomic<int>> processed;
  std::vector<bool> fails;

  static void run(void* self, std::size_t begin, std::size_t end) {
    auto& r = *static_cast<Recorder*>(self);
    {
      std::lock_guard lock(r.mutex);
      r.pieces.push_back({begin, end, pthread_self()});
    }
    for (std::size_t i = begin; i < end; ++i) {
      r.processed[i].fetch_add(1);
      if (r.fails[i]) throw Stop("element " + std::to_string(i));
    }
  }

  // Pieces are disjoint, non-empty, cover [0, n), and each ran in order up
  // to its end or its first failure; nothing else ran.
  void check_layout(std::size_t n) {
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.begin < b.begin; });
    std::size_t next = 0;
    for (const Piece& p : pieces) {
      ASSERT_EQ(p.begin, next);
      ASSERT_LT(p.begin, p.end);
      bool stopped = false;
      for (std::size_t i = p.begin; i < p.end; ++i) {
        EXPECT_EQ(processed[i].load(), stopped ? 0 : 1) << "index " << i;
        if (fails[i]) stopped = true;
      }
      next = p.end;
    }
    EXPECT_EQ(next, n);
  }
};

std::string run_and_catch(qp::ThreadPool& pool, Recorder& r, std::size_t n) {
  try {
    pool.run_batch(n, &Recorder::run, &r);
  } catch (const Stop& stop) {
    return stop.message();
  }
  return "";
}

// The same batch started in the background, then waited for.
std::string run_in_background_and_catch(qp::ThreadPool& pool, Recorder& r, std::size_t n) {
  qp::ScopedPool scoped(pool);
  try {
    qp::BackgroundBatch batch(n, &Recorder::run, &r);
    batch.wait();
  } catch (const Stop& stop) {
    return stop.message();
  }
  return "";
}

}  // namespace

class PoolSizes : public ::testing::TestWithParam<std::size_t> {};
INSTANTIATE_TEST_SUITE_P(Threads, PoolSizes, ::testing::Values(1, 2, 3, 8));

TEST_P(PoolSizes, PiecesCoverTheRangeInOrder) {
  qp::ThreadPool pool(GetParam());
  for (std::size_t n : {0, 1, 2, 3, 5, 17, 100, 1000, 100000}) {
    Recorder r(n);
    EXPECT_EQ(run_and_catch(pool, r, n), "");
    r.check_layout(n);
    if (n >= 2) {
      // Split at least once, and every piece ran on a worker.
      EXPECT_GE(r.pieces.size(), 2u);
      for (const auto& p : r.pieces) EXPECT_FALSE(pthread_equal(p.thread, pthread_self()));
    } else if (n == 1) {
      EXPECT_TRUE(pthread_equal(r.pieces.at(0).thread, pthread_self()));
    }
  }
}

TEST_P(PoolSizes, LowestFailingIndexWinsAndEveryPieceRuns) {
  qp::ThreadPool pool(GetParam());
  std::mt19937_64 random(GetParam());
  for (int round = 0; round < 300; ++round) {
    std::size_t n = 1 + random() % (round < 200 ? 64 : 5000);
    Recorder r(n);
    std::size_t failures = 1 + random() % 4;
    std::size_t lowest = n;
    for (std::size_t k = 0; k < failures; ++k) {
      std::size_t i = random() % n;
      r.fails[i] = true;
      lowest = std::min(lowest, i);
    }
    ASSERT_EQ(run_and_catch(pool, r, n), "element " + std::to_string(lowest)) << "n = " << n;
    r.check_layout(n);
  }
}

TEST_P(PoolSizes, BackgroundBatchesKeepTheLayoutAndTheFailureRule) {
  qp::ThreadPool pool(GetParam());
  std::mt19937_64 random(GetParam() + 100);
  for (int round = 0; round < 200; ++round) {
    std::size_t n = random() % (round < 100 ? 64 : 5000);
    Recorder r(n);
    std::size_t lowest = n;
    for (std::size_t k = 0; n > 0 && k < random() % 3; ++k) {
      std::size_t i = random() % n;
      r.fails[i] = true;
      lowest = std::min(lowest, i);
    }
    ASSERT_EQ(run_in_background_and_catch(pool, r, n), lowest == n ? "" : "element " + std::to_string(lowest))
        << "n = " << n;
    r.check_layout(n);
  }
}

TEST(BackgroundBatch, CallerGoesOnWhileThePiecesRun) {
  qp::ThreadPool pool(2);
  qp::ScopedPool scoped(pool);
  struct Gate {
    std::atomic<bool> open{false};
    std::atomic<std::size_t> done{0};
  } gate;
  {
    // Every piece waits for the caller: a batch that ran on the calling
    // thread before the constructor returned would never end.
    qp::BackgroundBatch batch(
        1000,
        [](void* c, std::size_t begin, std::size_t end) {
          auto& g = *static_cast<Gate*>(c);
          while (!g.open.load()) std::this_thread::yield();
          g.done.fetch_add(end - begin);
        },
        &gate);
    EXPECT_EQ(gate.done.load(), 0u);
    EXPECT_FALSE(batch.wait_for(std::chrono::milliseconds(5)));
    gate.open.store(true);
    while (!batch.wait_for(std::chrono::milliseconds(5))) {
    }
    EXPECT_EQ(gate.done.load(), 1000u);
    batch.wait();
  }
  // Without wait(), the destructor still lets every piece end first.
  gate.done.store(0);
  {
    qp::BackgroundBatch batch(
        1000,
        [](void* c, std::size_t begin, std::size_t end) {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          static_cast<Gate*>(c)->done.fetch_add(end - begin);
        },
        &gate);
  }
  EXPECT_EQ(gate.done.load(), 1000u);
}

TEST(RunBatch, OneThreadSplitsIntoEightPieces) {
  // Budget 1 is spent by the first split, which is handed in; its migrated
  // halves restore it to 1, which their halves spend once more.
  qp::ThreadPool pool(1);
  Recorder r(1000);
  pool.run_batch(1000, &Recorder::run, &r);
  r.check_layout(1000);
  ASSERT_EQ(r.pieces.size(), 8u);
  for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(r.pieces[k].begin, 125 * k);
  std::set<pthread_t> threads;
  for (const auto& p : r.pieces) threads.insert(p.thread);
  EXPECT_EQ(threads.size(), 1u);
}

namespace {
struct Custom {
  int value;
};

template <class Throw>
void throw_at(qp::ThreadPool& pool, std::size_t n, std::size_t at, Throw thrower) {
  struct Ctx {
    std::size_t at;
    Throw* thrower;
  } ctx{at, &thrower};
  pool.run_batch(
      n,
      [](void* c, std::size_t begin, std::size_t end) {
        auto& x = *static_cast<Ctx*>(c);
        for (std::size_t i = begin; i < end; ++i)
          if (i == x.at) (*x.thrower)();
      },
      &ctx);
}
}  // namespace

TEST(RunBatch, ExceptionsArriveUnchanged) {
  qp::ThreadPool pool(2);
  for (std::size_t n : {1, 2, 1000}) {
    std::size_t at = n - 1;
    EXPECT_THROW(throw_at(pool, n, at, [] { throw std::bad_alloc(); }), std::bad_alloc);
    try {
      throw_at(pool, n, at, [] { throw Custom{42}; });
      ADD_FAILURE() << "no exception";
    } catch (const Custom& c) {
      EXPECT_EQ(c.value, 42);
    }
    try {
      throw_at(pool, n, at, [] { throw Stop("caf\xc3\xa9 \"quoted\""); });
      ADD_FAILURE() << "no exception";
    } catch (const Stop& s) {
      EXPECT_EQ(s.message(), "caf\xc3\xa9 \"quoted\"");
    }
  }
  // The pool is still usable afterwards.
  Recorder r(100);
  pool.run_batch(100, &Recorder::run, &r);
  r.check_layout(100);
}

TEST(BatchMap, ResultsInInputOrderOnAnyPool) {
  std::vector<std::string> in;
  for (int i = 0; i < 5000; ++i) in.push_back(std::string(static_cast<std::size_t>(i % 37), 'x') + std::to_string(i));
  auto f = [](const std::string& s) { return s + "!"; };
  for (std::size_t threads : {1, 2, 8}) {
    qp::ThreadPool pool(threads);
    auto out = qp::batch_map(pool, std::span<const std::string>(in), f);
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], in[i] + "!");
    EXPECT_TRUE(qp::batch_map(pool, std::span<const std::string>(), f).empty());
  }
}

TEST(BatchMap, ScopedPoolRoutesTheFreeFunctions) {
  qp::ThreadPool pool(3);
  qp::ScopedPool use(pool);
  EXPECT_EQ(qp::current_num_threads(), 3u);
  std::vector<int> in(1000);
  for (int i = 0; i < 1000; ++i) in[static_cast<std::size_t>(i)] = i;
  auto out = qp::batch_map(std::span<const int>(in), [](int v) {
    // Workers see their own pool's size.
    return static_cast<int>(qp::current_num_threads()) * 10000 + v;
  });
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(out[static_cast<std::size_t>(i)], 30000 + i);
}

TEST(RunBatch, NestedBatchesOnWorkers) {
  qp::ThreadPool pool(2);
  qp::ScopedPool use(pool);
  std::vector<int> outer(64);
  for (int i = 0; i < 64; ++i) outer[static_cast<std::size_t>(i)] = i;
  auto sums = qp::batch_map(std::span<const int>(outer), [](int v) {
    std::vector<int> inner(static_cast<std::size_t>(v) * 10);
    for (std::size_t j = 0; j < inner.size(); ++j) inner[j] = static_cast<int>(j);
    auto doubled = qp::batch_map(std::span<const int>(inner), [](int x) { return 2 * x; });
    long sum = 0;
    for (int d : doubled) sum += d;
    return sum;
  });
  for (int i = 0; i < 64; ++i) {
    long m = i * 10;
    ASSERT_EQ(sums[static_cast<std::size_t>(i)], m * (m - 1)) << i;
  }
  // A failure deep inside a nested batch reaches the outside caller.
  EXPECT_THROW(qp::batch_map(std::span<const int>(outer),
                             [](int v) {
                               std::vector<int> inner(100, v);
                               return qp::batch_map(std::span<const int>(inner), [](int x) {
                                        if (x == 40) throw Stop("deep");
                                        return x;
                                      }).size();
                             }),
               Stop);
}

TEST(RunBatch, ConcurrentOutsideCallers) {
  qp::ThreadPool pool(3);
  std::atomic<int> bad{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 6; ++t) {
    callers.emplace_back([&, t] {
      for (int round = 0; round < 40; ++round) {
        std::size_t n = static_cast<std::size_t>(1 + (t * 131 + round * 17) % 3000);
        Recorder r(n);
        if (round % 3 == 0) r.fails[n / 2] = true;
        std::string message = run_and_catch(pool, r, n);
        std::string expected = round % 3 == 0 ? "element " + std::to_string(n / 2) : "";
        if (message != expected) ++bad;
      }
    });
  }
  for (auto& c : callers) c.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(RunBatch, IdleWorkersStealFromABusyOne) {
  // Element 0 keeps its worker busy until some element of the upper half
  // has run, which only another worker can do.
  qp::ThreadPool pool(2);
  struct Ctx {
    std::atomic<bool> upper_done{false};
    std::atomic<bool> timed_out{false};
  } ctx;
  pool.run_batch(
      1000,
      [](void* c, std::size_t begin, std::size_t end) {
        auto& x = *static_cast<Ctx*>(c);
        for (std::size_t i = begin; i < end; ++i) {
          if (i >= 500) x.upper_done = true;
          if (i == 0) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!x.upper_done && !(x.timed_out = std::chrono::steady_clock::now() > deadline))
              std::this_thread::yield();
          }
        }
      },
      &ctx);
  EXPECT_FALSE(ctx.timed_out.load());
}

TEST(RunBatch, IdleWorkersGoToSleep) {
  qp::ThreadPool pool(4);
  Recorder r(10000);
  pool.run_batch(10000, &Recorder::run, &r);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (pool.sleeping_threads() != 4 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(pool.sleeping_threads(), 4u);
  // Sleeping workers wake for the next batch.
  Recorder again(5000);
  pool.run_batch(5000, &Recorder::run, &again);
  again.check_layout(5000);
}

namespace {
std::atomic<int> starts_seen{0};
int fail_third_start(std::size_t index) {
  starts_seen.fetch_add(1);
  return index == 2 ? EAGAIN : 0;
}
std::atomic<int> choices{0};
std::size_t choose_four() {
  choices.fetch_add(1);
  return 4;
}

void wait_for_live_workers(std::size_t expected) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (qp::live_worker_threads() != expected && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
}  // namespace

TEST(PoolCell, FailedStartIsReportedThenNeverRetried) {
  std::size_t before = qp::live_worker_threads();
  qp::PoolCell cell(&choose_four, qp::ThreadPool::Options{.detached = true, .start_hook = &fail_third_start});
  auto message = [&] {
    try {
      cell.get();
    } catch (const Stop& s) {
      return s.message();
    }
    return std::string("started");
  };
  EXPECT_EQ(message(),
            "The global thread pool has not been initialized.: ThreadPoolBuildError { kind: IOError(Os { code: 11, "
            "message: \"Resource temporarily unavailable\" }) }");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(message(),
              "The global thread pool has not been initialized.: ThreadPoolBuildError { kind: "
              "GlobalPoolAlreadyInitialized }");
  }
  EXPECT_EQ(starts_seen.load(), 3);
  EXPECT_EQ(choices.load(), 1);
  // The two threads that did start have ended.
  wait_for_live_workers(before);
  EXPECT_EQ(qp::live_worker_threads(), before);
}

TEST(PoolCell, StartsOnceAndKeepsThePool) {
  choices = 0;
  qp::PoolCell cell(&choose_four, qp::ThreadPool::Options{});
  qp::ThreadPool& first = cell.get();
  EXPECT_EQ(&cell.get(), &first);
  EXPECT_EQ(first.num_threads(), 4u);
  EXPECT_EQ(choices.load(), 1);
}

TEST(ProcessPool, EmptyBatchStartsItOnce) {
  qp::run_batch(0, [](void*, std::size_t, std::size_t) { ADD_FAILURE() << "ran a piece of an empty batch"; },
                nullptr);
  std::size_t t = qp::current_num_threads();
  EXPECT_GE(t, 1u);
  EXPECT_LE(t, 65535u);
  // The threads come up on their own time; all of them do.
  wait_for_live_workers(t);
  EXPECT_EQ(qp::live_worker_threads(), t);
}

TEST(RunBatch, WorkersHaveTwoMebibyteStacks) {
  qp::ThreadPool pool(2);
  std::vector<int> in(8);
  auto sizes = qp::batch_map(pool, std::span<const int>(in), [](int) {
    pthread_attr_t attr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      pthread_attr_getstacksize(&attr, &size);
      pthread_attr_destroy(&attr);
    }
    return size;
  });
  for (std::size_t size : sizes) EXPECT_EQ(size, std::size_t{2} << 20);
}
