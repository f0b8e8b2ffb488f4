// Throughput of the geometry core: Chaikin smoothing (3 passes) and
// Ramer-Douglas-Peucker simplification, on one large noisy ring and on many
// small rings. Reported as input points per second.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "geometry/geometry.hpp"

namespace {

using quillmere::Coord;
using quillmere::LineString;
using quillmere::Polygon;

// A closed ring of n points around a circle of the given radius, with
// normally distributed noise of the given spread on every point.
Polygon noisy_ring(std::mt19937_64& rng, std::size_t n, double radius, double noise) {
  std::normal_distribution<double> jitter(0.0, noise);
  LineString ring;
  ring.coords.reserve(n);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double angle = 6.283185307179586 * double(i) / double(n - 1);
    ring.coords.push_back(
        {radius * std::cos(angle) + jitter(rng), radius * std::sin(angle) + jitter(rng)});
  }
  ring.coords.push_back(ring.coords.front());
  return Polygon(std::move(ring), {});
}

const Polygon& big_ring() {
  static const Polygon ring = [] {
    std::mt19937_64 rng(1);
    return noisy_ring(rng, 1'000'000, 10'000.0, 0.5);
  }();
  return ring;
}

const std::vector<Polygon>& small_rings() {
  static const std::vector<Polygon> rings = [] {
    std::mt19937_64 rng(2);
    std::vector<Polygon> out;
    out.reserve(100'000);
    for (std::size_t i = 0; i < 100'000; ++i) out.push_back(noisy_ring(rng, 8 + i % 25, 10.0, 0.5));
    return out;
  }();
  return rings;
}

std::size_t point_count(const Polygon& p) { return p.exterior().coords.size(); }

std::size_t point_count(const std::vector<Polygon>& ps) {
  std::size_t n = 0;
  for (const Polygon& p : ps) n += point_count(p);
  return n;
}

void BM_ChaikinBigRing(benchmark::State& state) {
  const Polygon& ring = big_ring();
  for (auto _ : state) benchmark::DoNotOptimize(quillmere::chaikin_smoothing(ring, 3));
  state.SetItemsProcessed(state.iterations() * std::int64_t(point_count(ring)));
}

void BM_RdpBigRing(benchmark::State& state) {
  const Polygon& ring = big_ring();
  const double tolerance = 1.0;
  std::size_t kept = 0;
  for (auto _ : state) {
    const Polygon result = quillmere::simplify(ring, tolerance);
    kept = point_count(result);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(point_count(ring)));
  state.counters["kept"] = double(kept);
}

void BM_ChaikinSmallRings(benchmark::State& state) {
  const std::vector<Polygon>& rings = small_rings();
  for (auto _ : state) {
    for (const Polygon& ring : rings) benchmark::DoNotOptimize(quillmere::chaikin_smoothing(ring, 3));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(point_count(rings)));
}

void BM_RdpSmallRings(benchmark::State& state) {
  const std::vector<Polygon>& rings = small_rings();
  for (auto _ : state) {
    for (const Polygon& ring : rings) benchmark::DoNotOptimize(quillmere::simplify(ring, 0.5));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(point_count(rings)));
}

// Survey parcels: 4 to 40 vertices a few metres apart (in degrees), against
// a tolerance that keeps nearly every vertex, so that every stretch splits
// down to single segments.
void BM_RdpParcels(benchmark::State& state) {
  static const std::vector<Polygon> parcels = [] {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> place(-80.0, 80.0);
    std::uniform_real_distribution<double> spread(0.7, 1.0);
    std::vector<Polygon> out;
    for (std::size_t i = 0; i < 100'000; ++i) {
      const std::size_t n = 4 + i % 37;
      const double cx = place(rng);
      const double cy = place(rng);
      LineString ring;
      for (std::size_t j = 0; j < n; ++j) {
        const double angle = 6.283185307179586 * double(j) / double(n);
        const double r = 1e-3 * spread(rng);
        ring.coords.push_back({cx + r * std::cos(angle), cy + r * std::sin(angle)});
      }
      out.emplace_back(std::move(ring), std::vector<LineString>{});
    }
    return out;
  }();
  for (auto _ : state) {
    for (const Polygon& ring : parcels) benchmark::DoNotOptimize(quillmere::simplify(ring, 1e-5));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(point_count(parcels)));
}

// The per-polygon step of the batch: smooth 3 passes, then simplify.
void BM_SmoothThenSimplifyBigRing(benchmark::State& state) {
  const Polygon& ring = big_ring();
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillmere::simplify(quillmere::chaikin_smoothing(ring, 3), 1.0));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(point_count(ring)));
}

BENCHMARK(BM_ChaikinBigRing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RdpBigRing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChaikinSmallRings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RdpSmallRings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RdpParcels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothThenSimplifyBigRing)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
