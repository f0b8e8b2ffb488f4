#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "geojson/geojson.hpp"

namespace quillmere::json {
namespace {

// "message @line:column", or "ok".
std::string outcome(std::string_view text) {
  auto parsed = from_str(text);
  if (auto* error = std::get_if<Error>(&parsed)) {
    return std::string(error->message()) + " @" + std::to_string(error->line) + ":" + std::to_string(error->column);
  }
  return "ok";
}

struct ErrorCase {
  std::string text;
  std::string expected;
};

class ReaderErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ReaderErrors, MessageAndPosition) { EXPECT_EQ(outcome(GetParam().text), GetParam().expected) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(
    Table, ReaderErrors,
    ::testing::Values(
        // document level
        ErrorCase{"", "EOF while parsing a value @1:0"}, ErrorCase{"   ", "EOF while parsing a value @1:3"},
        ErrorCase{"{} x", "trailing characters @1:4"}, ErrorCase{"{}  \n \r\n\t", "ok"},
        ErrorCase{"\xEF\xBB\xBF{}", "expected value @1:1"}, ErrorCase{"\f{}", "expected value @1:1"},
        ErrorCase{"[\n  x]", "expected value @2:3"}, ErrorCase{"{}\n\n  1", "trailing characters @3:3"},
        // literals
        ErrorCase{"tru", "EOF while parsing a value @1:3"}, ErrorCase{"trUe", "expected ident @1:3"},
        ErrorCase{"nul", "EOF while parsing a value @1:3"}, ErrorCase{"nulL", "expected ident @1:4"},
        ErrorCase{"fals", "EOF while parsing a value @1:4"}, ErrorCase{"truex", "trailing characters @1:5"},
        ErrorCase{"[truex]", "expected `,` or `]` @1:6"}, ErrorCase{"x", "expected value @1:1"},
        // arrays
        ErrorCase{"[", "EOF while parsing a list @1:1"}, ErrorCase{"[1", "EOF while parsing a list @1:2"},
        ErrorCase{"[1,", "EOF while parsing a value @1:3"}, ErrorCase{"[1, ", "EOF while parsing a value @1:4"},
        ErrorCase{"[1,]", "trailing comma @1:4"}, ErrorCase{"[1 2]", "expected `,` or `]` @1:4"},
        ErrorCase{"[,1]", "expected value @1:2"}, ErrorCase{"[1,,2]", "expected value @1:4"},
        ErrorCase{"[1}", "expected `,` or `]` @1:3"},
        // objects
        ErrorCase{"{", "EOF while parsing an object @1:1"}, ErrorCase{"{\"a\"", "EOF while parsing an object @1:4"},
        ErrorCase{"{\"a\":", "EOF while parsing a value @1:5"}, ErrorCase{"{\"a\":1", "EOF while parsing an object @1:6"},
        ErrorCase{"{\"a\":1,", "EOF while parsing a value @1:7"}, ErrorCase{"{\"a", "EOF while parsing a string @1:3"},
        ErrorCase{"{\"a\":1,}", "trailing comma @1:8"}, ErrorCase{"{1:2}", "key must be a string @1:2"},
        ErrorCase{"{\"a\":1,2}", "key must be a string @1:8"}, ErrorCase{"{\"a\" 1}", "expected `:` @1:6"},
        ErrorCase{"{\"a\":1 \"b\"}", "expected `,` or `}` @1:8"}, ErrorCase{"{\"a\":}", "expected value @1:6"},
        ErrorCase{"{,}", "key must be a string @1:2"},
        // numbers
        ErrorCase{"01", "invalid number @1:2"}, ErrorCase{"-01", "invalid number @1:3"},
        ErrorCase{"-", "EOF while parsing a value @1:1"}, ErrorCase{"-x", "invalid number @1:2"},
        ErrorCase{"- 1", "invalid number @1:2"}, ErrorCase{"1.", "EOF while parsing a value @1:2"},
        ErrorCase{"1.a", "invalid number @1:3"}, ErrorCase{"1.e5", "invalid number @1:3"},
        ErrorCase{"1e", "EOF while parsing a value @1:2"}, ErrorCase{"1e+", "EOF while parsing a value @1:3"},
        ErrorCase{"1e+x", "invalid number @1:4"}, ErrorCase{"+1", "expected value @1:1"},
        ErrorCase{".5", "expected value @1:1"}, ErrorCase{"1e400", "number out of range @1:5"},
        ErrorCase{"[1.8e308]", "number out of range @1:8"}, ErrorCase{"1e99999999999", "number out of range @1:13"},
        ErrorCase{"-1e99999999999 ", "number out of range @1:14"}, ErrorCase{"0e999999999999", "ok"},
        ErrorCase{"1e-99999999999", "ok"}, ErrorCase{"0x10", "trailing characters @1:2"},
        ErrorCase{"1" + std::string(400, '0'), "number out of range @1:401"},
        // strings
        ErrorCase{"\"abc", "EOF while parsing a string @1:4"}, ErrorCase{"\"\\", "EOF while parsing a string @1:2"},
        ErrorCase{"\"\\x\"", "invalid escape @1:3"}, ErrorCase{"\"\\u12\"", "EOF while parsing a string @1:6"},
        ErrorCase{"\"\\u12G4\"", "invalid escape @1:6"}, ErrorCase{"\"\\uDE00\"", "lone leading surrogate in hex escape @1:7"},
        ErrorCase{"\"\\uD83Da\"", "unexpected end of hex escape @1:8"},
        ErrorCase{"\"\\uD83D\"", "unexpected end of hex escape @1:8"},
        ErrorCase{"\"\\uD83D\\x\"", "unexpected end of hex escape @1:9"},
        ErrorCase{"\"\\uD83D", "EOF while parsing a string @1:7"},
        ErrorCase{"\"\\uD83D\\uD83D\"", "lone leading surrogate in hex escape @1:13"},
        ErrorCase{"\"\\uD83D\\u0041\"", "lone leading surrogate in hex escape @1:13"},
        ErrorCase{"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string @1:3"},
        ErrorCase{"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string @2:0"},
        ErrorCase{"\"\x7F\"", "ok"}, ErrorCase{"\"a\\tb\"", "ok"},
        // columns count bytes, not characters
        ErrorCase{"\"\xC3\xA9\" x", "trailing characters @1:6"}));

TEST(Reader, DepthLimitAllows127OpenContainers) {
  EXPECT_EQ(outcome(std::string(127, '[') + std::string(127, ']')), "ok");
  EXPECT_EQ(outcome(std::string(128, '[') + std::string(128, ']')), "recursion limit exceeded @1:128");
  std::string objects;
  for (int i = 0; i < 127; ++i) objects += "{\"a\":";
  EXPECT_EQ(outcome(objects + "1" + std::string(127, '}')), "ok");
  EXPECT_EQ(outcome(objects + "{" + "}" + std::string(127, '}')), "recursion limit exceeded @1:636");
  // Depth is given back when a container closes.
  std::string siblings;
  for (int i = 0; i < 1000; ++i) siblings += std::string(100, '[') + std::string(100, ']') + ",";
  EXPECT_EQ(outcome("[" + siblings + "1]"), "ok");
}

Value parse_ok(Document& keep, std::string_view text) {
  auto parsed = from_str(text);
  EXPECT_TRUE(std::holds_alternative<Document>(parsed)) << text;
  keep = std::move(std::get<Document>(parsed));
  return keep.root();
}

TEST(Reader, ObjectsAreInByteWiseKeyOrderAndTheLastRepeatedKeyWins) {
  Document doc;
  Value v = parse_ok(doc, R"({"b":1,"a":1,"\u00e9":3,"B":4,"a":2,"":5,"a ":6})");
  ASSERT_TRUE(v.is_object());
  std::vector<std::string> keys;
  for (const Member& m : v.members()) keys.emplace_back(m.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "B", "a", "a ", "b", "\xC3\xA9"}));
  ASSERT_NE(v.find("a"), nullptr);
  EXPECT_EQ(v.find("a")->number().u, 2u);
  EXPECT_EQ(v.find("zz"), nullptr);
}

TEST(Reader, LargeObjectsSortAndDedupe) {
  std::string text = "{";
  for (int i = 99; i >= 0; --i) text += "\"k" + std::to_string(i % 50) + "\":" + std::to_string(i) + ",";
  text += "\"end\":null}";
  Document doc;
  Value v = parse_ok(doc, text);
  ASSERT_EQ(v.members().size(), 51u);
  for (std::size_t i = 1; i < v.members().size(); ++i) EXPECT_LT(v.members()[i - 1].key, v.members()[i].key);
  // k7 was written with 57 and later with 7: the last one stays.
  EXPECT_EQ(v.find("k7")->number().u, 7u);
}

TEST(Reader, StringsResolveEscapesAndKeepPlainTextInPlace) {
  std::string text = R"(["plain","a\"b\\c\/d\b\f\n\r\t","\u00e9\u20ac\ud83d\ude00","\u0000x"])";
  Document doc;
  Value v = parse_ok(doc, text);
  auto items = v.elements();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].string(), "plain");
  // Read in place: the view points into the input.
  EXPECT_EQ(items[0].string().data(), text.data() + 2);
  EXPECT_EQ(items[1].string(), "a\"b\\c/d\b\f\n\r\t");
  EXPECT_EQ(items[2].string(), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(items[3].string(), std::string_view("\0x", 2));
}

TEST(Reader, ScalarKinds) {
  Document doc;
  Value v = parse_ok(doc, " [null, true, false, \"\", [], {}] ");
  auto items = v.elements();
  ASSERT_EQ(items.size(), 6u);
  EXPECT_TRUE(items[0].is_null());
  EXPECT_TRUE(items[1].is_bool() && items[1].as_bool());
  EXPECT_TRUE(items[2].is_bool() && !items[2].as_bool());
  EXPECT_TRUE(items[3].is_string() && items[3].string().empty());
  EXPECT_TRUE(items[4].is_array() && items[4].elements().empty());
  EXPECT_TRUE(items[5].is_object() && items[5].members().empty());
  EXPECT_FALSE(items[0].as_array().has_value());
  EXPECT_FALSE(items[3].as_f64().has_value());
}

TEST(Reader, ValueIsCompact) { static_assert(sizeof(Value) == 16 && std::is_trivially_copyable_v<Value>); }

}  // namespace
}  // namespace quillmere::json
