#include "pipelines.hpp"
#include "pool/pool.hpp"
#include "wkt/wkt.hpp"

namespace quillmere {

std::vector<Polygon> read_polygons_from_wkts(std::span<const std::string_view> texts) {
  // One batch map over the texts: the lowest-index unreadable text's stop is
  // the one that leaves.
  return pool::batch_map(texts, [](std::string_view text) { return wkt::read_polygon_from_wkt(text); });
}

}  // namespace quillmere
