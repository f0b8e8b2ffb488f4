#include "geometry.hpp"

namespace quillmere {

const char* inner_type_name(const Geometry& geometry) noexcept {
  static constexpr const char* names[] = {
      "geo_types::geometry::point::Point",
      "geo_types::geometry::line::Line",
      "geo_types::geometry::line_string::LineString",
      "geo_types::geometry::polygon::Polygon",
      "geo_types::geometry::multi_point::MultiPoint",
      "geo_types::geometry::multi_line_string::MultiLineString",
      "geo_types::geometry::multi_polygon::MultiPolygon",
      "geo_types::geometry::geometry_collection::GeometryCollection",
      "geo_types::geometry::rect::Rect",
      "geo_types::geometry::triangle::Triangle",
  };
  static_assert(std::size(names) == std::variant_size_v<decltype(Geometry::value)>);
  return names[geometry.value.index()];
}

}  // namespace quillmere
