// GeoJSON decoding: the object model's checks in its exact order, keeping
// only the kind and the polygon payloads that the collection reader takes.
#include "geojson.hpp"

namespace quillmere::geojson {

namespace {

using json::Value;

struct Failure {
  Error error;
};

[[noreturn]] void fail(Error::Kind kind, std::string payload = {}) { throw Failure{Error{kind, std::move(payload)}}; }
[[noreturn]] void fail(Error::Kind kind, const Value& value) { fail(kind, json::debug(value)); }
[[noreturn]] void fail_missing(std::string_view member) { fail(Error::Kind::ExpectedProperty, json::debug_text(member)); }

const Value& require(const Value& object, std::string_view member) {
  const Value* value = object.find(member);
  if (value == nullptr) fail_missing(member);
  return *value;
}

std::string_view kind_name(const Value& value) {
  switch (value.kind()) {
    case json::Kind::Null:
      return "Null";
    case json::Kind::Bool:
      return "Bool";
    case json::Kind::String:
      return "String";
    case json::Kind::Array:
      return "Array";
    case json::Kind::Object:
      return "Object";
    default:
      return "Number";
  }
}

std::span<const Value> expect_owned_array(const Value& value) {
  if (!value.is_array()) fail(Error::Kind::ExpectedArrayValue, json::debug_text(kind_name(value)));
  return value.elements();
}

std::span<const Value> expect_coordinate_array(const Value& value) {
  if (!value.is_array()) fail(Error::Kind::ExpectedArrayValue, json::debug_text("None"));
  return value.elements();
}

void json_to_position(const Value& value) {
  for (const Value& number : expect_coordinate_array(value)) {
    if (!number.is_number()) fail(Error::Kind::ExpectedF64Value);
  }
}

void json_to_1d_positions(const Value& value) {
  for (const Value& position : expect_coordinate_array(value)) json_to_position(position);
}

void json_to_2d_positions(const Value& value) {
  for (const Value& line : expect_coordinate_array(value)) json_to_1d_positions(line);
}

void get_bbox(const Value& object) {
  const Value* bbox = object.find("bbox");
  if (bbox == nullptr) return;
  if (!bbox->is_array()) fail(Error::Kind::BboxExpectedArray, *bbox);
  for (const Value& element : bbox->elements()) {
    if (!element.is_number()) fail(Error::Kind::BboxExpectedNumericValues, element);
  }
}

class Decoder {
 public:
  explicit Decoder(std::vector<Value>& polygons, std::vector<PolygonalGeometry>* all = nullptr)
      : polygons_(polygons), all_(all) {}

  void feature_collection(const Value& object) {
    get_bbox(object);
    std::span<const Value> features = expect_owned_array(require(object, "features"));
    for (const Value& feature : features) element_of_features(feature);
  }

  // One element of a collection's "features" array.
  void element_of_features(const Value& feature) {
    if (!feature.is_object()) fail(Error::Kind::ExpectedObjectValue, feature);
    this->feature(feature, true);
  }

  void feature(const Value& object, bool take_polygons) {
    const Value& type = require(object, "type");
    if (!type.is_string()) fail(Error::Kind::ExpectedStringValue, type);
    if (type.string() != "Feature") fail(Error::Kind::NotAFeature, json::debug_text(type.string()));

    const Value& geometry = require(object, "geometry");
    if (geometry.is_object()) {
      this->geometry(geometry, take_polygons);
    } else if (!geometry.is_null()) {
      fail(Error::Kind::FeatureInvalidGeometryValue, geometry);
    }

    const Value* properties = object.find("properties");
    if (properties != nullptr && !properties->is_null() && !properties->is_object()) {
      fail(Error::Kind::PropertiesExpectedObjectOrNull, *properties);
    }

    const Value* id = object.find("id");
    if (id != nullptr && !id->is_string() && !id->is_number()) {
      fail(Error::Kind::FeatureInvalidIdentifierType, *id);
    }

    get_bbox(object);
  }

  // Polygons nested in a GeometryCollection are checked but never taken.
  void geometry(const Value& object, bool take_polygons) {
    get_bbox(object);
    const Value& type_value = require(object, "type");
    if (!type_value.is_string()) fail(Error::Kind::ExpectedStringValue, type_value);
    std::string_view type = type_value.string();
    if (type == "Point") {
      json_to_position(require(object, "coordinates"));
    } else if (type == "MultiPoint" || type == "LineString") {
      json_to_1d_positions(require(object, "coordinates"));
    } else if (type == "MultiLineString") {
      json_to_2d_positions(require(object, "coordinates"));
    } else if (type == "Polygon") {
      const Value& coordinates = require(object, "coordinates");
      json_to_2d_positions(coordinates);
      if (take_polygons) polygons_.push_back(coordinates);
      if (all_ != nullptr) all_->push_back(PolygonalGeometry{false, coordinates});
    } else if (type == "MultiPolygon") {
      const Value& coordinates = require(object, "coordinates");
      std::span<const Value> polygons = expect_coordinate_array(coordinates);
      for (const Value& polygon : polygons) json_to_2d_positions(polygon);
      if (take_polygons) polygons_.insert(polygons_.end(), polygons.begin(), polygons.end());
      if (all_ != nullptr) all_->push_back(PolygonalGeometry{true, coordinates});
    } else if (type == "GeometryCollection") {
      // Nesting is bounded by the JSON reader's depth limit.
      for (const Value& member : expect_owned_array(require(object, "geometries"))) {
        if (!member.is_object()) fail(Error::Kind::ExpectedObjectValue, member);
        geometry(member, false);
      }
    } else {
      fail(Error::Kind::GeometryUnknownType, json::debug_text(type));
    }
  }

 private:
  std::vector<Value>& polygons_;
  std::vector<PolygonalGeometry>* all_;  // every polygonal geometry, when asked for
};

bool is_geometry_type(std::string_view type) {
  return type == "Point" || type == "MultiPoint" || type == "LineString" || type == "MultiLineString" ||
         type == "Polygon" || type == "MultiPolygon" || type == "GeometryCollection";
}

// The top level: the kind by "type", then the kind's checks.
std::optional<Error> decode_root(const Value& root, Decoder& decoder, GeoJsonKind& kind) {
  try {
    if (!root.is_object()) fail(Error::Kind::ExpectedObjectValue, root);
    const Value* type = root.find("type");
    if (type == nullptr || !type->is_string()) fail(Error::Kind::GeometryUnknownType, json::debug_text("type"));
    std::string_view name = type->string();
    if (name == "FeatureCollection") {
      kind = GeoJsonKind::FeatureCollection;
      decoder.feature_collection(root);
    } else if (name == "Feature") {
      kind = GeoJsonKind::Feature;
      decoder.feature(root, false);
    } else if (is_geometry_type(name)) {
      kind = GeoJsonKind::Geometry;
      decoder.geometry(root, false);
    } else {
      fail(Error::Kind::EmptyType);
    }
  } catch (Failure& failure) {
    return std::move(failure.error);
  }
  return std::nullopt;
}

}  // namespace

std::variant<GeoJson, Error> from_str(std::string_view text) {
  std::variant<json::Document, json::Error> parsed = json::from_str(text);
  if (auto* error = std::get_if<json::Error>(&parsed)) return Error{Error::Kind::MalformedJson, error->debug()};

  GeoJson result;
  result.document = std::move(std::get<json::Document>(parsed));
  Decoder decoder(result.polygon_payloads);
  if (auto error = decode_root(result.document.root(), decoder, result.kind)) return std::move(*error);
  return result;
}

std::optional<Error> decode_feature_of_collection(const json::Value& element,
                                                  std::vector<json::Value>& polygon_payloads) {
  Decoder decoder(polygon_payloads);
  try {
    decoder.element_of_features(element);
  } catch (Failure& failure) {
    return std::move(failure.error);
  }
  return std::nullopt;
}

std::optional<Error> check_feature_of_collection(const json::Value& element,
                                                 std::vector<PolygonalGeometry>& geometries) {
  std::vector<Value> unused;
  Decoder decoder(unused, &geometries);
  try {
    decoder.element_of_features(element);
  } catch (Failure& failure) {
    return std::move(failure.error);
  }
  return std::nullopt;
}

std::optional<Error> check_geojson(const json::Value& root, GeoJsonKind& kind,
                                   std::vector<PolygonalGeometry>& geometries) {
  std::vector<Value> unused;
  Decoder decoder(unused, &geometries);
  return decode_root(root, decoder, kind);
}

}  // namespace quillmere::geojson
