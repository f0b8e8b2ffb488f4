#include <utility>

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

namespace {

// Every kind but the collection: no recursion.
std::optional<Error> convert_leaf(Geometry& geometry, quillmere::Geometry& out) {
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
      return try_from(std::move(m), out.value.emplace<quillmere::MultiPoint>());
    }
    std::optional<Error> operator()(MultiLineString& m) {
      auto& converted = out.value.emplace<quillmere::MultiLineString>();
      converted.lines.reserve(m.lines.size());
      for (const LineString& l : m.lines) converted.lines.push_back(to_line_string(l));
      return std::nullopt;
    }
    std::optional<Error> operator()(MultiPolygon& m) {
      auto& converted = out.value.emplace<quillmere::MultiPolygon>();
      converted.polygons.reserve(m.polygons.size());
      for (Polygon& p : m.polygons) converted.polygons.push_back(from(std::move(p)));
      return std::nullopt;
    }
    std::optional<Error> operator()(GeometryCollection&) { return std::nullopt; }  // not reached
  };
  return std::visit(Visitor{out}, geometry.value);
}

}  // namespace

std::optional<Error> try_from(Geometry&& geometry, quillmere::Geometry& out) {
  auto* root = std::get_if<GeometryCollection>(&geometry.value);
  if (!root) return convert_leaf(geometry, out);
  // Nested collections are walked with an explicit list, member by member in
  // order; the first failing member fails the whole conversion.
  struct Frame {
    GeometryCollection* source;
    std::size_t next;
    quillmere::GeometryCollection* target;  // reserved up front: never moves
  };
  std::vector<Frame> frames;
  auto open = [&frames](GeometryCollection& source, quillmere::Geometry& target) {
    auto& collection = target.value.emplace<quillmere::GeometryCollection>();
    collection.geometries.reserve(source.geometries.size());
    frames.push_back(Frame{&source, 0, &collection});
  };
  open(*root, out);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.source->geometries.size()) {
      frame.source->geometries.clear();  // members already emptied: a shallow free
      frames.pop_back();
      continue;
    }
    Geometry& member = frame.source->geometries[frame.next++];
    quillmere::Geometry& converted = frame.target->geometries.emplace_back();
    if (auto* collection = std::get_if<GeometryCollection>(&member.value)) {
      open(*collection, converted);  // `frame` is not used after this
    } else if (auto error = convert_leaf(member, converted)) {
      return error;
    }
  }
  return std::nullopt;
}

std::optional<Error> try_from(quillmere::Geometry&& geometry, quillmere::Polygon& out) {
  if (auto* polygon = std::get_if<quillmere::Polygon>(&geometry.value)) {
    out = std::move(*polygon);
    return std::nullopt;
  }
  return mismatched(geometry);
}

}  // namespace quillmere::wkt
