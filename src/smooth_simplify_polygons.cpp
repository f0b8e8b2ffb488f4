// The geometric step shared by both pipelines: every polygon smoothed (when
// passes > 0) and simplified, in parallel, in input order.
#include "pipelines.hpp"
#include "pool/pool.hpp"

namespace quillmere {

namespace {

Polygon smooth_simplify(const Polygon& polygon, std::uint64_t passes, double tolerance) {
  if (passes == 0) return simplify(polygon, tolerance);
  // The smoothed copy lives only until its simplified result exists.
  return simplify(chaikin_smoothing(polygon, passes), tolerance);
}

struct Batch {
  Polygon* input;
  Polygon* output;
  std::uint64_t passes;
  double tolerance;
};

}  // namespace

std::vector<Polygon> smooth_simplify_polygons(std::vector<Polygon> polygons, std::uint64_t smoothing_iterations,
                                              double simplify_tolerance) {
  // Sized once; result i is written straight into position i.
  std::vector<Polygon> results(polygons.size());
  Batch batch{polygons.data(), results.data(), smoothing_iterations, simplify_tolerance};
  pool::run_batch(
      polygons.size(),
      [](void* context, std::size_t begin, std::size_t end) {
        auto& b = *static_cast<Batch*>(context);
        for (std::size_t i = begin; i < end; ++i) {
          b.output[i] = smooth_simplify(b.input[i], b.passes, b.tolerance);
          // The input is ours: release each polygon on the worker that read
          // it, in parallel, rather than all of them afterwards on the
          // calling thread.
          b.input[i] = Polygon();
        }
      },
      &batch);
  std::vector<Polygon>().swap(polygons);
  return results;
}

}  // namespace quillmere
