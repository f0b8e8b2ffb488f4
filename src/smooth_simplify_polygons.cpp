#include "pipelines.hpp"
#include "pool/stop.hpp"

namespace quillmere {

std::vector<Polygon> smooth_simplify_polygons(std::vector<Polygon>, std::uint64_t, double) {
  throw Stop("smoothing and simplification are not built yet");
}

}  // namespace quillmere
