#include <utility>
#include <variant>

#include "common/stop.hpp"
#include "geojson/geojson.hpp"
#include "pipelines.hpp"

namespace quillmere {

std::optional<std::vector<Polygon>> read_polygons_from_feature_collection(std::string_view text) {
  std::variant<geojson::GeoJson, geojson::Error> decoded = geojson::from_str(text);
  if (auto* error = std::get_if<geojson::Error>(&decoded)) {
    throw Stop("called `Result::unwrap()` on an `Err` value: " + error->debug());
  }
  const geojson::GeoJson& geojson = std::get<geojson::GeoJson>(decoded);
  if (geojson.kind != geojson::GeoJsonKind::FeatureCollection) return std::nullopt;

  // Decoding has checked the whole document, so a short position found here
  // is reported only when nothing else is wrong.
  std::vector<Polygon> polygons;
  polygons.reserve(geojson.polygon_payloads.size());
  for (const json::Value& payload : geojson.polygon_payloads) {
    polygons.push_back(geojson::create_geo_polygon(payload));
  }
  return polygons;
}

}  // namespace quillmere
