// The geometric step shared by both pipelines: every polygon smoothed (when
// passes > 0) and simplified, in parallel, in input order.
#include <utility>

#include "pipelines.hpp"
#include "pool/pool.hpp"

namespace quillmere {

Polygon smooth_simplify_polygon(const Polygon& polygon, std::uint64_t passes, double tolerance) {
  if (passes == 0) return simplify(polygon, tolerance);
  // The smoothed copy lives only until its simplified result exists; the
  // result gets storage of its own size, as results of this form are kept
  // (in a list of them) until written.
  const Polygon smoothed = chaikin_smoothing(polygon, passes);
  return simplify(smoothed, tolerance);
}

Polygon smooth_simplify_polygon(Polygon&& polygon, std::uint64_t passes, double tolerance) {
  if (passes == 0) return simplify(std::move(polygon), tolerance);
  Polygon smoothed = chaikin_smoothing(polygon, passes);
  polygon = Polygon();
  return simplify(std::move(smoothed), tolerance);
}

std::vector<Polygon> smooth_simplify_polygons(std::vector<Polygon> polygons, std::uint64_t smoothing_iterations,
                                              double simplify_tolerance) {
  // Sized once, result i written straight into position i; each input
  // polygon is released by the worker that processed it.
  return pool::batch_map(std::move(polygons), [smoothing_iterations, simplify_tolerance](const Polygon& polygon) {
    return smooth_simplify_polygon(polygon, smoothing_iterations, simplify_tolerance);
  });
}

}  // namespace quillmere
