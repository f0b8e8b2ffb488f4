#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "geojson/geojson.hpp"

namespace quillmere::geojson {
namespace {

std::string decode_outcome(std::string_view text) {
  auto decoded = from_str(text);
  if (auto* error = std::get_if<Error>(&decoded)) return error->debug();
  switch (std::get<GeoJson>(decoded).kind) {
    case GeoJsonKind::Geometry:
      return "Geometry";
    case GeoJsonKind::Feature:
      return "Feature";
    case GeoJsonKind::FeatureCollection:
      return "FeatureCollection/" + std::to_string(std::get<GeoJson>(decoded).polygon_payloads.size());
  }
  return "?";
}

// A one-feature collection around a feature text.
std::string fc(std::string_view feature) {
  return R"({"type":"FeatureCollection","features":[)" + std::string(feature) + "]}";
}
std::string feature(std::string_view geometry, std::string_view extra = "") {
  return R"({"type":"Feature",)" + std::string(extra) + R"("geometry":)" + std::string(geometry) + "}";
}

struct Case {
  std::string text;
  std::string expected;
};

class Decoding : public ::testing::TestWithParam<Case> {};

TEST_P(Decoding, FirstFailureWins) { EXPECT_EQ(decode_outcome(GetParam().text), GetParam().expected) << GetParam().text; }

const std::string kSquare = R"({"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]})";

INSTANTIATE_TEST_SUITE_P(
    Table, Decoding,
    ::testing::Values(
        // top level
        Case{"[]", "ExpectedObjectValue(Array [])"}, Case{"5", "ExpectedObjectValue(Number(5))"},
        Case{"{}", "GeometryUnknownType(\"type\")"}, Case{R"({"type":5})", "GeometryUnknownType(\"type\")"},
        Case{"{\"type\":", "MalformedJson(Error(\"EOF while parsing a value\", line: 1, column: 8))"},
        Case{R"({"type":"featurecollection"})", "EmptyType"}, Case{R"({"type":"Rect"})", "EmptyType"},
        Case{R"({"type":"FeatureCollection"})", "ExpectedProperty(\"features\")"},
        Case{R"({"type":"FeatureCollection","features":{}})", "ExpectedArrayValue(\"Object\")"},
        Case{R"({"type":"FeatureCollection","features":null})", "ExpectedArrayValue(\"Null\")"},
        Case{R"({"type":"FeatureCollection","features":"x"})", "ExpectedArrayValue(\"String\")"},
        Case{R"({"type":"FeatureCollection","features":1})", "ExpectedArrayValue(\"Number\")"},
        Case{R"({"type":"FeatureCollection","features":true})", "ExpectedArrayValue(\"Bool\")"},
        Case{R"({"type":"FeatureCollection","features":[]})", "FeatureCollection/0"},
        Case{R"({"type":"FeatureCollection","features":[1]})", "ExpectedObjectValue(Number(1))"},
        // bbox is checked before features
        Case{R"({"type":"FeatureCollection","features":[1],"bbox":null})", "BboxExpectedArray(Null)"},
        Case{R"({"type":"FeatureCollection","features":[],"bbox":[1,"a"]})", "BboxExpectedNumericValues(String(\"a\"))"},
        Case{R"({"type":"FeatureCollection","features":[],"bbox":[],"extra":{"x":[1]}})", "FeatureCollection/0"},
        Case{R"({"type":"Feature","geometry":null})", "Feature"}, Case{R"({"type":"Point","coordinates":[]})", "Geometry"},
        Case{R"({"type":"Point"})", "ExpectedProperty(\"coordinates\")"},
        Case{R"({"type":"GeometryCollection"})", "ExpectedProperty(\"geometries\")"},
        // features
        Case{fc("{}"), "ExpectedProperty(\"type\")"}, Case{fc(R"({"type":1})"), "ExpectedStringValue(Number(1))"},
        Case{fc(R"({"type":"Point"})"), "NotAFeature(\"Point\")"},
        Case{fc(R"({"type":"Feature"})"), "ExpectedProperty(\"geometry\")"},
        Case{fc(feature("null")), "FeatureCollection/0"}, Case{fc(feature("[1]")), "FeatureInvalidGeometryValue(Array [Number(1)])"},
        Case{fc(feature("null", R"("properties":5,)")), "PropertiesExpectedObjectOrNull(Number(5))"},
        Case{fc(feature("null", R"("properties":null,"id":"a",)")), "FeatureCollection/0"},
        Case{fc(feature("null", R"("id":null,)")), "FeatureInvalidIdentifierType(Null)"},
        Case{fc(feature("null", R"("id":{"k":[]},)")), "FeatureInvalidIdentifierType(Object {\"k\": Array []})"},
        Case{fc(feature("null", R"("id":1.5,)")), "FeatureCollection/0"},
        Case{fc(feature("null", R"("bbox":null,)")), "BboxExpectedArray(Null)"},
        // geometry errors come before properties, properties before id, id before bbox
        Case{fc(feature(R"({"type":"Point","coordinates":["a"]})", R"("properties":5,)")), "ExpectedF64Value"},
        Case{fc(feature("null", R"("properties":5,"id":null,"bbox":1,)")), "PropertiesExpectedObjectOrNull(Number(5))"},
        Case{fc(feature("null", R"("id":null,"bbox":1,)")), "FeatureInvalidIdentifierType(Null)"},
        // the first failing feature wins
        Case{fc(feature("null", R"("id":null,)") + "," + feature("1")), "FeatureInvalidIdentifierType(Null)"},
        // geometries: bbox first, then type, then coordinates
        Case{fc(feature(R"({"bbox":false})")), "BboxExpectedArray(Bool(false))"},
        Case{fc(feature(R"({"coordinates":[]})")), "ExpectedProperty(\"type\")"},
        Case{fc(feature(R"({"type":null})")), "ExpectedStringValue(Null)"},
        Case{fc(feature(R"({"type":"Feature"})")), "GeometryUnknownType(\"Feature\")"},
        Case{fc(feature(R"({"type":"polygon"})")), "GeometryUnknownType(\"polygon\")"},
        Case{fc(feature(R"({"type":"Polygon","coordinates":7})")), "ExpectedArrayValue(\"None\")"},
        Case{fc(feature(R"({"type":"Polygon","coordinates":[7]})")), "ExpectedArrayValue(\"None\")"},
        Case{fc(feature(R"({"type":"Polygon","coordinates":[[7]]})")), "ExpectedArrayValue(\"None\")"},
        Case{fc(feature(R"({"type":"Polygon","coordinates":[[[1,null]]]})")), "ExpectedF64Value"},
        Case{fc(feature(R"({"type":"Polygon","coordinates":[[[1],[]]]})")), "FeatureCollection/1"},
        Case{fc(feature(R"({"type":"LineString","coordinates":[[1,"a"]]})")), "ExpectedF64Value"},
        Case{fc(feature(R"({"type":"LineString","coordinates":[[1,2]]})")), "FeatureCollection/0"},
        Case{fc(feature(R"({"type":"MultiPolygon","coordinates":[[],[[[0,0]]],[]]})")), "FeatureCollection/3"},
        Case{fc(feature(R"({"type":"MultiPolygon","coordinates":[[[[0,0]]],[[0]]]})")), "ExpectedArrayValue(\"None\")"},
        Case{fc(feature(R"({"type":"GeometryCollection","geometries":[)" + kSquare + "]}")), "FeatureCollection/0"},
        Case{fc(feature(R"({"type":"GeometryCollection","geometries":[5]})")), "ExpectedObjectValue(Number(5))"},
        Case{fc(feature(R"({"type":"GeometryCollection","geometries":{}})")), "ExpectedArrayValue(\"Object\")"},
        Case{fc(feature(R"({"type":"GeometryCollection","geometries":[{"type":"Point","coordinates":[1,{}]}]})")),
             "ExpectedF64Value"},
        // a repeated member keeps its last value
        Case{fc(feature(kSquare + R"(,"geometry":null)")), "FeatureCollection/0"},
        Case{fc(feature("null", R"("geometry":)" + kSquare + ",")), "FeatureCollection/0"},
        Case{fc(feature(kSquare) + "," + feature(kSquare)), "FeatureCollection/2"}));

TEST(Decoding, MalformedJsonCarriesTheReaderError) {
  auto decoded = from_str("{\"type\":\n  tru}");
  ASSERT_TRUE(std::holds_alternative<Error>(decoded));
  EXPECT_EQ(std::get<Error>(decoded).kind, Error::Kind::MalformedJson);
  EXPECT_EQ(std::get<Error>(decoded).debug(), "MalformedJson(Error(\"expected ident\", line: 2, column: 6))");
}

}  // namespace
}  // namespace quillmere::geojson
