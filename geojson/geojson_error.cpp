#include "geojson.hpp"

namespace quillmere::geojson {

namespace {

std::string_view name(Error::Kind kind) {
  switch (kind) {
    case Error::Kind::BboxExpectedArray:
      return "BboxExpectedArray";
    case Error::Kind::BboxExpectedNumericValues:
      return "BboxExpectedNumericValues";
    case Error::Kind::EmptyType:
      return "EmptyType";
    case Error::Kind::NotAFeature:
      return "NotAFeature";
    case Error::Kind::GeometryUnknownType:
      return "GeometryUnknownType";
    case Error::Kind::MalformedJson:
      return "MalformedJson";
    case Error::Kind::PropertiesExpectedObjectOrNull:
      return "PropertiesExpectedObjectOrNull";
    case Error::Kind::FeatureInvalidGeometryValue:
      return "FeatureInvalidGeometryValue";
    case Error::Kind::FeatureInvalidIdentifierType:
      return "FeatureInvalidIdentifierType";
    case Error::Kind::ExpectedStringValue:
      return "ExpectedStringValue";
    case Error::Kind::ExpectedProperty:
      return "ExpectedProperty";
    case Error::Kind::ExpectedF64Value:
      return "ExpectedF64Value";
    case Error::Kind::ExpectedArrayValue:
      return "ExpectedArrayValue";
    case Error::Kind::ExpectedObjectValue:
      return "ExpectedObjectValue";
  }
  return "Unknown";
}

}  // namespace

std::string Error::debug() const {
  std::string out(name(kind));
  if (kind != Kind::EmptyType && kind != Kind::ExpectedF64Value) {
    out += '(';
    out += payload;
    out += ')';
  }
  return out;
}

}  // namespace quillmere::geojson
