// The pipeline stages, between the module surfaces (src/, tools/) and the
// subsystems. Every stage may end in a Stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "geometry/geometry.hpp"

namespace quillmere {

// Reads every text into a Polygon, in parallel; the lowest-index unreadable
// text stops the call.
std::vector<Polygon> read_polygons_from_wkts(std::span<const std::string_view> texts);

// The polygons of a FeatureCollection text in document order; absent when the
// text is valid GeoJSON but not a FeatureCollection.
std::optional<std::vector<Polygon>> read_polygons_from_feature_collection(std::string_view text);

// Receives the texts of smooth_simplify_fc_blocks on the calling thread.
class FeatureTextSink {
 public:
  // The number of blocks, before any block comes. False gives up.
  virtual bool begin(std::size_t blocks) = 0;
  // Block `block`: the Feature texts of some consecutive features, separated
  // by ','; empty when those features have no polygon. Blocks come in any
  // order, while the workers go on with others. False gives up.
  virtual bool take(std::size_t block, std::string_view text) = 0;

 protected:
  ~FeatureTextSink() = default;
};

enum class FcBlocksResult { Written, NotTaken, SinkGaveUp };

// The FeatureCollection call with its features read, decoded, smoothed,
// simplified and written on the pool, each block of features apart from the
// others, the texts handed to `sink` as they are done. Written means that
// read_polygons_from_feature_collection accepts the text and that the
// collection head, the non-empty blocks in block order separated by ',',
// and the tail make the text that write_feature_collection writes of its
// polygons smoothed and simplified. NotTaken when the text is not a plain
// collection or when anything at all fails: only the serial path knows which
// failure the call reports. SinkGaveUp when the sink did.
FcBlocksResult smooth_simplify_fc_blocks(std::string_view text, std::uint64_t smoothing_iterations,
                                         double simplify_tolerance, FeatureTextSink& sink);

// Chaikin smoothing (when passes > 0) then RDP simplification of one polygon.
Polygon smooth_simplify_polygon(const Polygon& polygon, std::uint64_t smoothing_iterations,
                                double simplify_tolerance);
// The same for a polygon that is no longer needed: the result lives in the
// storage of the input (or of its smoothed copy), so it is meant to be used
// and released at once.
Polygon smooth_simplify_polygon(Polygon&& polygon, std::uint64_t smoothing_iterations, double simplify_tolerance);

// smooth_simplify_polygon of every polygon, in parallel, in input order.
// Consumes the input list.
std::vector<Polygon> smooth_simplify_polygons(std::vector<Polygon> polygons, std::uint64_t smoothing_iterations,
                                              double simplify_tolerance);

}  // namespace quillmere
