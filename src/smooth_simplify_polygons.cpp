// The geometric step shared by both pipelines: every polygon smoothed (when
// passes > 0) and simplified, in parallel, in input order.
#include "pipelines.hpp"
#include "pool/pool.hpp"

namespace quillmere {

std::vector<Polygon> smooth_simplify_polygons(std::vector<Polygon> polygons, std::uint64_t smoothing_iterations,
                                              double simplify_tolerance) {
  // batch_map sizes the output once and writes result i into position i.
  std::vector<Polygon> results =
      pool::batch_map(std::span<const Polygon>(polygons), [smoothing_iterations, simplify_tolerance](const Polygon& p) {
        if (smoothing_iterations == 0) return simplify(p, simplify_tolerance);
        // The smoothed copy lives only until its simplified result exists.
        return simplify(chaikin_smoothing(p, smoothing_iterations), simplify_tolerance);
      });
  // Release the input before handing the result on.
  std::vector<Polygon>().swap(polygons);
  return results;
}

}  // namespace quillmere
