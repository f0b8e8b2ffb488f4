#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <variant>

#include "geojson/geojson.hpp"

namespace quillmere::json {
namespace {

using namespace std::literals;

struct TextCase {
  double value;
  const char* text;
};

class NumberText : public ::testing::TestWithParam<TextCase> {};

TEST_P(NumberText, Layout) { EXPECT_EQ(number_text(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Table, NumberText,
    ::testing::Values(TextCase{0.0, "0.0"}, TextCase{-0.0, "-0.0"}, TextCase{1.0, "1.0"}, TextCase{2.0, "2.0"},
                      TextCase{-2.0, "-2.0"}, TextCase{12.5, "12.5"}, TextCase{100.0, "100.0"}, TextCase{0.1, "0.1"},
                      TextCase{1e15, "1000000000000000.0"}, TextCase{1e16, "1e16"}, TextCase{1.5e16, "1.5e16"},
                      TextCase{123456789012345.6, "123456789012345.6"},
                      TextCase{1234567890123456.7, "1234567890123456.8"},
                      TextCase{12345678901234567.0, "1.2345678901234568e16"}, TextCase{1e-5, "0.00001"},
                      TextCase{2.5e-5, "0.000025"}, TextCase{1e-6, "1e-6"}, TextCase{-1.25e-7, "-1.25e-7"},
                      TextCase{0.0001234, "0.0001234"}, TextCase{5e-324, "5e-324"},
                      TextCase{1.7976931348623157e308, "1.7976931348623157e308"}, TextCase{1e100, "1e100"},
                      TextCase{-0.30000000000000004, "-0.30000000000000004"},
                      TextCase{std::numeric_limits<double>::quiet_NaN(), "null"},
                      TextCase{std::numeric_limits<double>::infinity(), "null"},
                      TextCase{-std::numeric_limits<double>::infinity(), "null"}));

TEST(NumberText, RoundTripsThroughTheReaderOnShortLiterals) {
  for (double v : {3.141592653589793, -7.25, 1e-7, 6.02214076e23, 0.007}) {
    auto parsed = from_str(number_text(v));
    ASSERT_TRUE(std::holds_alternative<Document>(parsed));
    EXPECT_EQ(std::get<Document>(parsed).root().number().f, v);
  }
}

TEST(StringText, EscapesQuotesBackslashesAndControlBytesOnly) {
  std::string out;
  write_string("a\"b\\c/\b\f\n\r\t\x01\x1f\x7f\xC3\xA9\0"sv, out);
  EXPECT_EQ(out, std::string("\"a\\\"b\\\\c/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\xC3\xA9\\u0000\""));
}

std::string rewrite(std::string_view text) {
  auto parsed = from_str(text);
  EXPECT_TRUE(std::holds_alternative<Document>(parsed)) << text;
  if (!std::holds_alternative<Document>(parsed)) return {};
  return to_string(std::get<Document>(parsed).root());
}

TEST(CompactText, KeyOrderNoSpacesAndNumberKinds) {
  EXPECT_EQ(rewrite(R"( { "type" : "x", "b" : [ 1 , -2 , 3.0, 1E2, -0, 18446744073709551616 ], "a":{ }, "c":[ ] , "d":null, "e":true, "f":false } )"),
            R"({"a":{},"b":[1,-2,3.0,100.0,-0.0,1.8446744073709552e19],"c":[],"d":null,"e":true,"f":false,"type":"x"})");
  EXPECT_EQ(rewrite(R"("\u00e9\n\u0007")"), "\"\xC3\xA9\\n\\u0007\"");
}

TEST(CompactText, BuiltValues) {
  Arena arena;
  Member members[] = {{"z", Value::floating(std::nan(""))}, {"y", Value::negative_integer(-5)},
                      {"y", Value::unsigned_integer(7)}, {"x", arena.make_string("q\"")}};
  Value object = arena.make_object(members);
  Value items[] = {object, Value::boolean(false), Value::null()};
  EXPECT_EQ(to_string(arena.make_array(items)), R"([{"x":"q\"","y":7,"z":null},false,null])");
}

std::string debug_of(std::string_view text) {
  auto parsed = from_str(text);
  EXPECT_TRUE(std::holds_alternative<Document>(parsed)) << text;
  if (!std::holds_alternative<Document>(parsed)) return {};
  return debug(std::get<Document>(parsed).root());
}

TEST(DebugForm, Values) {
  EXPECT_EQ(debug_of("null"), "Null");
  EXPECT_EQ(debug_of("true"), "Bool(true)");
  EXPECT_EQ(debug_of("5"), "Number(5)");
  EXPECT_EQ(debug_of("-5"), "Number(-5)");
  EXPECT_EQ(debug_of("5.0"), "Number(5.0)");
  EXPECT_EQ(debug_of("1e16"), "Number(1e16)");
  EXPECT_EQ(debug_of("-0"), "Number(-0.0)");
  EXPECT_EQ(debug_of(R"("a\"b\\c")"), R"(String("a\"b\\c"))");
  EXPECT_EQ(debug_of("[]"), "Array []");
  EXPECT_EQ(debug_of("{}"), "Object {}");
  EXPECT_EQ(debug_of(R"([1, {"b": null, "a": [true]}, "x"])"),
            R"(Array [Number(1), Object {"a": Array [Bool(true)], "b": Null}, String("x")])");
}

TEST(DebugForm, ControlCharactersAreEscaped) {
  EXPECT_EQ(debug_text("t\tn\nr\r0\0e\x1b\x7f\xC2\x85\xC3\xA9"sv),
            "\"t\\tn\\nr\\r0\\0e\\u{1b}\\u{7f}\\u{85}\xC3\xA9\"");
}

TEST(DebugForm, Errors) {
  auto parsed = from_str("\"\t\"");
  ASSERT_TRUE(std::holds_alternative<Error>(parsed));
  EXPECT_EQ(std::get<Error>(parsed).debug(),
            R"(Error("control character (\\u0000-\\u001F) found while parsing a string", line: 1, column: 2))");
}

}  // namespace
}  // namespace quillmere::json
