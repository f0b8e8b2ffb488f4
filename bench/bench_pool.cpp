// Cost of a batch on the pool: empty and tiny batches, and the speed-up of
// smoothing and simplifying many small polygons on 2 threads against 1.
// Run on an otherwise idle machine; it prints the load average it started at.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "pipeline/pipelines.hpp"
#include "pool/pool.hpp"

namespace {

using Clock = std::chrono::steady_clock;
namespace qp = quillmere::pool;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Best of `repeats` timings of `calls` calls of f, in microseconds per call.
template <class F>
double micros_per_call(int calls, int repeats, F&& f) {
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    auto start = Clock::now();
    for (int i = 0; i < calls; ++i) f();
    best = std::min(best, seconds_since(start) * 1e6 / calls);
  }
  return best;
}

void noop_piece(void*, std::size_t, std::size_t) {}

std::vector<quillmere::Polygon> small_polygons(std::size_t count, std::size_t max_points) {
  std::mt19937_64 random(1);
  std::vector<quillmere::Polygon> polygons;
  polygons.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    quillmere::LineString ring;
    std::size_t points = 4 + random() % (max_points - 3);
    for (std::size_t k = 0; k < points; ++k) {
      double angle = 6.283185307179586 * static_cast<double>(k) / static_cast<double>(points);
      double r = 1.0 + static_cast<double>(random() % 1000) / 5000.0;
      ring.coords.push_back({r * std::cos(angle), r * std::sin(angle)});
    }
    polygons.emplace_back(std::move(ring), std::vector<quillmere::LineString>{});
  }
  return polygons;
}

double process_cpu_seconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Timing {
  double wall;  // best run
  double cpu;   // process CPU time of that run: about T x wall when all workers kept busy
};

// Best wall time of smoothing and simplifying `input` on `pool`.
Timing batch_seconds(qp::ThreadPool& pool, const std::vector<quillmere::Polygon>& input, std::uint64_t passes,
                     int repeats) {
  qp::ScopedPool use(pool);
  Timing best{1e300, 0};
  for (int r = 0; r < repeats; ++r) {
    std::vector<quillmere::Polygon> copy = input;
    double cpu_start = process_cpu_seconds();
    auto start = Clock::now();
    auto out = quillmere::smooth_simplify_polygons(std::move(copy), passes, 0.001);
    double wall = seconds_since(start);
    if (wall < best.wall) best = Timing{wall, process_cpu_seconds() - cpu_start};
  }
  return best;
}

std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string text;
  std::getline(in, text);
  return text;
}

}  // namespace

int main() {
  std::printf("load average at start: %s\n", load_average().c_str());
  std::printf("process pool: T = %zu\n", qp::current_num_threads());
  // Let the process pool's threads come up before counting them.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::size_t threads_before = qp::live_worker_threads();
  std::printf("empty batch, process pool:        %8.3f us/call\n",
              micros_per_call(100000, 5, [] { qp::run_batch(0, &noop_piece, nullptr); }));
  std::printf("1-element batch, process pool:    %8.3f us/call\n",
              micros_per_call(100000, 5, [] { qp::run_batch(1, &noop_piece, nullptr); }));
  for (std::size_t t : {1, 2}) {
    qp::ThreadPool pool(t);
    for (std::size_t n : {2, 16, 1000}) {
      std::printf("%4zu-element batch, T = %zu:        %8.3f us/call\n", n, t,
                  micros_per_call(20000, 5, [&] { pool.run_batch(n, &noop_piece, nullptr); }));
    }
  }
  for (std::size_t n : {2, 16}) {
    std::printf("%4zu-element batch, process pool:  %8.3f us/call\n", n,
                micros_per_call(20000, 5, [&] { qp::run_batch(n, &noop_piece, nullptr); }));
  }
  std::printf("worker threads of the process pool before/after %d batches: %zu / %zu\n", 2 * 5 * 20000 + 2 * 5 * 100000,
              threads_before, qp::live_worker_threads());

  struct Workload {
    const char* name;
    std::size_t count;
    std::size_t max_points;
    std::uint64_t passes;
  };
  const Workload workloads[] = {
      {"100000 small polygons (4-12 points), 2 passes", 100000, 12, 2},
      {"100000 small polygons (4-12 points), 0 passes", 100000, 12, 0},
      {"2000 polygons (4-2000 points), 3 passes", 2000, 2000, 3},
  };
  qp::ThreadPool one(1), two(2);
  for (const Workload& w : workloads) {
    auto input = small_polygons(w.count, w.max_points);
    Timing t1 = batch_seconds(one, input, w.passes, 5);
    Timing t2 = batch_seconds(two, input, w.passes, 5);
    std::printf("%-48s T=1 %8.2f ms  T=2 %8.2f ms (cpu/wall %.2f)  speed-up %.2fx\n", w.name, t1.wall * 1e3,
                t2.wall * 1e3, t2.cpu / t2.wall, t1.wall / t2.wall);
  }
  std::printf("load average at end: %s\n", load_average().c_str());
  return 0;
}
