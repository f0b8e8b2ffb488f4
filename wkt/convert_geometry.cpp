#include <utility>

#include "pool/stop.hpp"
#include "wkt.hpp"

namespace quillmere::wkt {
namespace {

quillmere::LineString to_line_string(const LineString& line) {
  quillmere::LineString out;
  // One spare slot: the polygon construction may append the closing point.
  out.coords.reserve(line.coords.size() + 1);
  for (const Coord& c : line.coords) out.coords.push_back(quillmere::Coord{c.x, c.y});
  return out;
}

using Error = geo_types_from_wkt::Error;

Error mismatched(const quillmere::Geometry& found) {
  return Error{Error::Kind::MismatchedGeometry, "geo_types::geometry::polygon::Polygon", inner_type_name(found)};
}

}  // namespace

std::string debug_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string geo_types_from_wkt::Error::debug() const {
  if (kind == Kind::PointConversionError) return "PointConversionError";
  return "MismatchedGeometry { expected: " + debug_text(expected) + ", found: " + debug_text(found) + " }";
}

quillmere::Polygon from(Polygon&& polygon) {
  if (polygon.rings.empty()) return quillmere::Polygon(quillmere::LineString{}, {});
  quillmere::LineString exterior = to_line_string(polygon.rings.front());
  std::vector<quillmere::LineString> interiors;
  interiors.reserve(polygon.rings.size() - 1);
  for (std::size_t i = 1; i < polygon.rings.size(); ++i) interiors.push_back(to_line_string(polygon.rings[i]));
  polygon.rings.clear();
  return quillmere::Polygon(std::move(exterior), std::move(interiors));
}

std::optional<Error> try_from(MultiPoint&& multi_point, quillmere::MultiPoint& out) {
  out.points.clear();
  out.points.reserve(multi_point.points.size());
  for (const Point& point : multi_point.points) {
    if (!point.coord) return Error{Error::Kind::PointConversionError};
    out.points.push_back(quillmere::Point{quillmere::Coord{point.coord->x, point.coord->y}});
  }
  return std::nullopt;
}

std::optional<Error> try_from(Geometry&& geometry, quillmere::Geometry& out) {
  struct Visitor {
    quillmere::Geometry& out;

    std::optional<Error> operator()(Point& p) {
      if (p.coord) {
        out.value = quillmere::Point{quillmere::Coord{p.coord->x, p.coord->y}};
      } else {
        out.value = quillmere::MultiPoint{};  // the empty point is an empty multipoint
      }
      return std::nullopt;
    }
    std::optional<Error> operator()(LineString& l) {
      out.value = to_line_string(l);
      return std::nullopt;
    }
    std::optional<Error> operator()(Polygon& p) {
      out.value = from(std::move(p));
      return std::nullopt;
    }
    std::optional<Error> operator()(MultiPoint& m) {
      quillmere::MultiPoint converted;
      if (auto error = try_from(std::move(m), converted)) return error;
      out.value = std::move(converted);
      return std::nullopt;
    }
    std::optional<Error> operator()(MultiLineString& m) {
      quillmere::MultiLineString converted;
      converted.lines.reserve(m.lines.size());
      for (const LineString& l : m.lines) converted.lines.push_back(to_line_string(l));
      out.value = std::move(converted);
      return std::nullopt;
    }
    std::optional<Error> operator()(MultiPolygon& m) {
      quillmere::MultiPolygon converted;
      converted.polygons.reserve(m.polygons.size());
      for (Polygon& p : m.polygons) converted.polygons.push_back(from(std::move(p)));
      out.value = std::move(converted);
      return std::nullopt;
    }
    std::optional<Error> operator()(GeometryCollection& c) {
      // Recursion depth is bounded by the parser's collection nesting bound.
      quillmere::GeometryCollection converted;
      converted.geometries.reserve(c.geometries.size());
      for (Geometry& member : c.geometries) {
        converted.geometries.emplace_back();
        if (auto error = try_from(std::move(member), converted.geometries.back())) return error;
      }
      out.value = std::move(converted);
      return std::nullopt;
    }
  };
  return std::visit(Visitor{out}, geometry.value);
}

std::optional<Error> try_from(quillmere::Geometry&& geometry, quillmere::Polygon& out) {
  if (auto* polygon = std::get_if<quillmere::Polygon>(&geometry.value)) {
    out = std::move(*polygon);
    return std::nullopt;
  }
  return mismatched(geometry);
}

quillmere::Polygon read_polygon_from_wkt(std::string_view text) {
  Wkt tree;
  if (ErrorText error = Wkt::from_str(text, tree)) {
    throw Stop("Unable to parse Polygon from WKT: " + debug_text(error));
  }
  quillmere::Geometry geometry;
  if (auto error = try_from(std::move(tree.item), geometry)) {
    throw Stop("Unable to read Polygon from WKT: " + error->debug());
  }
  quillmere::Polygon polygon;
  if (auto error = try_from(std::move(geometry), polygon)) {
    throw Stop("Unable to read Polygon from WKT: " + error->debug());
  }
  return polygon;
}

}  // namespace quillmere::wkt
