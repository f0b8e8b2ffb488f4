#include <gtest/gtest.h>

#include <pthread.h>

#include <cctype>
#include <cmath>
#include <random>
#include <string>

#include "wkt/wkt.hpp"

namespace quillmere::wkt {
namespace {

struct ErrorCase {
  std::string text;
  ErrorText expected;  // null: parses
};

class ParseErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrors, ReportsTheDocumentedText) {
  Wkt tree;
  const ErrorText error = Wkt::from_str(GetParam().text, tree);
  if (GetParam().expected == nullptr) {
    EXPECT_EQ(error, nullptr) << GetParam().text << " -> " << error;
  } else {
    ASSERT_NE(error, nullptr) << GetParam().text;
    EXPECT_STREQ(error, GetParam().expected) << GetParam().text;
  }
}

using namespace errors;

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseErrors,
    ::testing::Values(
        ErrorCase{"POLYGON((0 0,1 0,1 1,0 0))", nullptr},
        ErrorCase{"polygon ( ( 0 0 , 1 0 , 1 1 , 0 0 ) )", nullptr},
        ErrorCase{"PoLyGoN((0 0,1 0,1 1,0 0))", nullptr},
        ErrorCase{"\tPOLYGON\n(\r(0\t0,1 0,1 1,0 0))\n", nullptr},
        ErrorCase{"POLYGON EMPTY", nullptr}, ErrorCase{"POLYGON(EMPTY)", nullptr},
        ErrorCase{"POLYGON(empty,(0 0,1 0,1 1,0 0))", nullptr},
        ErrorCase{"POLYGON((0 0,1 0,1 1,0 0)) trailing text ))", nullptr},
        ErrorCase{"POLYGON((0 0,1 0,1 1,0 0))POLYGON(", nullptr},
        ErrorCase{"POINT EMPTY x", nullptr},
        ErrorCase{"MULTIPOINT(1 2,(3 4))", nullptr}, ErrorCase{"MULTIPOINT((1 2),3 4)", nullptr},
        ErrorCase{"LINEARRING(0 0,1 1)", nullptr}, ErrorCase{"GEOMETRYCOLLECTION EMPTY", nullptr},
        ErrorCase{"GEOMETRYCOLLECTION(POINT(1 2),GEOMETRYCOLLECTION(LINESTRING EMPTY))", nullptr},
        ErrorCase{"MULTIPOLYGON(((0 0,1 0,1 1,0 0)),EMPTY,((5 5)))", nullptr},
        // Invalid format: no word first.
        ErrorCase{"", invalid_format}, ErrorCase{"   ", invalid_format}, ErrorCase{"(0 0)", invalid_format},
        ErrorCase{"1 2", invalid_format}, ErrorCase{")", invalid_format}, ErrorCase{",", invalid_format},
        ErrorCase{std::string("\0POLYGON EMPTY", 14), invalid_format},
        ErrorCase{"1x POLYGON", bad_number},  // a first number that fails to convert
        ErrorCase{"POLYGÖN((0 0,1 0,1 1,0 0))", non_ascii_word},
        ErrorCase{"\xff", non_ascii_word},
        // Only the first word is checked for ASCII.
        ErrorCase{"GEOMETRYCOLLECTION(PÖINT)", invalid_type},
        ErrorCase{"POLYGON Ö", missing_open_paren},
        ErrorCase{"x", invalid_type}, ErrorCase{"POLYGONZ((0 0,1 0,1 1,0 0))", invalid_type},
        ErrorCase{"POINTM(1 2)", invalid_type}, ErrorCase{"POLY((0 0))", invalid_type},
        ErrorCase{"POLYGON", missing_open_paren}, ErrorCase{"POLYGON Z ((0 0 0,1 0 0,1 1 0,0 0 0))", missing_open_paren},
        ErrorCase{"POLYGON 1", missing_open_paren}, ErrorCase{"POLYGON(1)", missing_open_paren}, ErrorCase{"POLYGON(1 2)", missing_close_paren},
        ErrorCase{"POLYGON((0 0 0,1 0 0,1 1 0,0 0 0))", missing_close_paren},
        ErrorCase{"POLYGON((0 0,x))", expected_x}, ErrorCase{"POLYGON((0 0,1 y))", expected_y},
        // The missing Y consumed the inner ")", so the outer ")" closes the ring
        // and the polygon finds nothing.
        ErrorCase{"POLYGON((0 0,1))", missing_close_paren},
        ErrorCase{"POLYGON((0 0,1)))", expected_y},
        ErrorCase{"POINT(0 nan)", expected_y}, ErrorCase{"POINT(nan 0)", missing_close_paren},
        ErrorCase{"POINT(nan)", expected_x},
        ErrorCase{"POINT(1 2abc)", bad_number}, ErrorCase{"POINT(1 +)", bad_number},
        ErrorCase{"POINT(1 2", missing_close_paren}, ErrorCase{"POINT(1 2,", missing_close_paren},
        // An error text in the closing position wins over the inner outcome.
        ErrorCase{"POINT(1 2 3x)", bad_number}, ErrorCase{"POINT(x 3x)", bad_number},
        ErrorCase{"POINT()", missing_close_paren}, ErrorCase{"POINT())", expected_x},
        ErrorCase{"MULTIPOINT(EMPTY)", expected_x},
        ErrorCase{"GEOMETRYCOLLECTION(1)", expected_word_in_collection},
        ErrorCase{"GEOMETRYCOLLECTION()", missing_close_paren},
        ErrorCase{"GEOMETRYCOLLECTION(POINT(1 2),)", missing_close_paren},
        ErrorCase{"GEOMETRYCOLLECTION(POINT(1 2),1)", expected_word_in_collection},
        ErrorCase{"GEOMETRYCOLLECTION(FOO(1 2))", missing_close_paren},
        ErrorCase{"GEOMETRYCOLLECTION(FOO)", invalid_type},
        // Nested collections follow the same closing rule at every level.
        ErrorCase{"GEOMETRYCOLLECTION(GEOMETRYCOLLECTION(POINT(1 2)),POINT(3 4))", nullptr},
        ErrorCase{"GEOMETRYCOLLECTION(GEOMETRYCOLLECTION EMPTY,POINT EMPTY)", nullptr},
        ErrorCase{"GEOMETRYCOLLECTION(GEOMETRYCOLLECTION(FOO))", invalid_type},
        ErrorCase{"GEOMETRYCOLLECTION(GEOMETRYCOLLECTION(FOO)", missing_close_paren},
        ErrorCase{"GEOMETRYCOLLECTION(GEOMETRYCOLLECTION 1)", missing_open_paren},
        ErrorCase{"GEOMETRYCOLLECTION(GEOMETRYCOLLECTION(POINT(1 2) POINT(3 4)))", missing_close_paren},
        ErrorCase{"GEOMETRYCOLLECTION(GEOMETRYCOLLECTION(POINT(1 2)) 5x)", bad_number},
        ErrorCase{"GEOMETRYCOLLECTION(GEOMETRYCOLLECTION(POINT(1 2)),GEOMETRYCOLLECTION())", missing_close_paren},
        // NUL ends the text for the parser's purposes where it stands.
        ErrorCase{std::string("POLYGON\0((0 0))", 15), missing_open_paren},
        ErrorCase{std::string("POINT(1\0 2)", 11), missing_close_paren},
        ErrorCase{std::string("POINT(1\0)", 9), expected_y},
        ErrorCase{std::string("POINT(1 2)\0", 11), nullptr}));

// A direct transcription of the recursive rules for collections, as the
// oracle for the parser's explicit-list reading of nested collections.
ErrorText reference_with_parens(TokenStream& t, GeometryCollection& out);

ErrorText reference_word(std::string_view word, TokenStream& t, Geometry& out) {
  std::string upper(word);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "GEOMETRYCOLLECTION") return reference_with_parens(t, out.value.emplace<GeometryCollection>());
  return Geometry::from_word_and_tokens(word, t, out);
}

ErrorText reference_with_parens(TokenStream& t, GeometryCollection& out) {
  Token open = t.next();
  if (open.kind == Token::Kind::Error) return open.error;
  if (open.kind == Token::Kind::Word && (open.text == "EMPTY" || open.text == "empty")) return nullptr;
  if (open.kind != Token::Kind::OpenParen) return missing_open_paren;
  ErrorText inner = nullptr;
  for (;;) {
    Token word = t.next();
    if (word.kind == Token::Kind::Error) {
      inner = word.error;
      break;
    }
    if (word.kind != Token::Kind::Word) {
      inner = expected_word_in_collection;
      break;
    }
    if ((inner = reference_word(word.text, t, out.geometries.emplace_back()))) break;
    if (t.peek().kind != Token::Kind::Comma) break;
    t.next();
  }
  Token close = t.next();
  if (close.kind == Token::Kind::Error) return close.error;
  if (close.kind != Token::Kind::CloseParen) return missing_close_paren;
  return inner;
}

std::size_t count_members(const Geometry& g) {
  std::size_t n = 1;
  if (const auto* c = std::get_if<GeometryCollection>(&g.value)) {
    for (const auto& m : c->geometries) n += count_members(m);
  }
  return n;
}

TEST(Parse, NestedCollectionsMatchTheRecursiveRules) {
  const char* pieces[] = {"GEOMETRYCOLLECTION", "GEOMETRYCOLLECTION", "GEOMETRYCOLLECTION", "(", "(", ")", ")",
                          ")", ",", ",", "POINT(1 2)", "POINT", "EMPTY", "empty", "FOO", "1", "5x", "(1 2)"};
  std::mt19937 random(7);
  int accepted = 0;
  for (int round = 0; round < 100000; ++round) {
    std::string text = "GEOMETRYCOLLECTION";
    const int n = 1 + static_cast<int>(random() % 24);
    for (int i = 0; i < n; ++i) {
      text += ' ';
      text += pieces[random() % std::size(pieces)];
    }
    Wkt ours;
    Geometry reference;
    TokenStream t(text);
    t.next();
    const ErrorText expected = reference_word("GEOMETRYCOLLECTION", t, reference);
    const ErrorText got = Wkt::from_str(text, ours);
    ASSERT_EQ(got == nullptr ? std::string("ok") : got, expected == nullptr ? std::string("ok") : expected) << text;
    if (!got) {
      ++accepted;
      ASSERT_EQ(count_members(ours.item), count_members(reference)) << text;
    }
  }
  EXPECT_GT(accepted, 100);
}

TEST(Parse, BuildsTheTree) {
  Wkt tree;
  ASSERT_EQ(Wkt::from_str("POLYGON((0 0,1 0,1 1),EMPTY,(2 2,3 3))", tree), nullptr);
  const auto& polygon = std::get<Polygon>(tree.item.value);
  ASSERT_EQ(polygon.rings.size(), 3u);
  EXPECT_EQ(polygon.rings[0].coords.size(), 3u);  // not closed by the parser
  EXPECT_TRUE(polygon.rings[1].coords.empty());
  EXPECT_EQ(polygon.rings[2].coords[1].x, 3.0);
  EXPECT_FALSE(polygon.rings[0].coords[0].z.has_value());

  ASSERT_EQ(Wkt::from_str("POINT(+-1 1E+2)", tree), nullptr);
  const auto& point = std::get<Point>(tree.item.value);
  EXPECT_EQ(point.coord->x, -1.0);
  EXPECT_EQ(point.coord->y, 100.0);

  ASSERT_EQ(Wkt::from_str("POINT EMPTY", tree), nullptr);
  EXPECT_FALSE(std::get<Point>(tree.item.value).coord.has_value());

  ASSERT_EQ(Wkt::from_str("POLYGON EMPTY", tree), nullptr);
  EXPECT_TRUE(std::get<Polygon>(tree.item.value).rings.empty());

  ASSERT_EQ(Wkt::from_str("LINEARRING(0 0,1 1)", tree), nullptr);
  EXPECT_EQ(std::get<LineString>(tree.item.value).coords.size(), 2u);

  ASSERT_EQ(Wkt::from_str("MULTIPOINT(1 2,(3 4))", tree), nullptr);
  EXPECT_EQ(std::get<MultiPoint>(tree.item.value).points[1].coord->y, 4.0);
}

std::string nested_collections(std::size_t levels) {
  std::string text;
  for (std::size_t i = 0; i < levels; ++i) text += "GEOMETRYCOLLECTION(";
  text += "POINT(1 2)";
  for (std::size_t i = 0; i < levels; ++i) text += ')';
  return text;
}

TEST(Parse, NestingUpToTheBoundIsAccepted) {
  Wkt tree;
  ASSERT_EQ(Wkt::from_str(nested_collections(max_collection_depth), tree), nullptr);
  const Geometry* g = &tree.item;
  std::size_t depth = 0;
  while (const auto* c = std::get_if<GeometryCollection>(&g->value)) {
    ++depth;
    g = &c->geometries.at(0);
  }
  EXPECT_EQ(depth, max_collection_depth);
}

TEST(Parse, NestingBeyondTheBoundFailsClearly) {
  Wkt tree;
  EXPECT_STREQ(Wkt::from_str(nested_collections(max_collection_depth + 1), tree), errors::nesting_too_deep);
  // Unbalanced hostile text: a million opening levels and no end.
  std::string hostile;
  for (int i = 0; i < 1000000; ++i) hostile += "GEOMETRYCOLLECTION(";
  EXPECT_STREQ(Wkt::from_str(hostile, tree), errors::nesting_too_deep);
  // Siblings do not add up: depth is nesting, not count.
  std::string wide = "GEOMETRYCOLLECTION(";
  for (std::size_t i = 0; i < 3 * max_collection_depth; ++i) wide += "GEOMETRYCOLLECTION EMPTY,";
  wide += "POINT EMPTY)";
  EXPECT_EQ(Wkt::from_str(wide, tree), nullptr);
}

// Texts are read on worker threads with 2 MiB stacks: the deepest accepted
// nesting must parse, convert and be freed well within that (a quarter of
// it here), also under ASan.
TEST(Parse, DeepestNestingFitsAWorkerStack) {
  struct Job {
    std::string text;
    ErrorText error = "not run";
    bool converted = false;
  } job{nested_collections(max_collection_depth)};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 512u << 10);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* p) -> void* {
                  auto& j = *static_cast<Job*>(p);
                  Wkt tree;
                  j.error = Wkt::from_str(j.text, tree);
                  quillmere::Geometry geometry;
                  j.converted = !try_from(std::move(tree.item), geometry).has_value();
                  return nullptr;
                },
                &job),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(job.error, nullptr);
  EXPECT_TRUE(job.converted);
}

TEST(Parse, LargeRingReadsInOnePass) {
  std::string text = "POLYGON((";
  const int n = 1000000;
  for (int i = 0; i < n; ++i) {
    if (i) text += ',';
    text += std::to_string(i) + " -" + std::to_string(i) + ".5";
  }
  text += "))";
  Wkt tree;
  ASSERT_EQ(Wkt::from_str(text, tree), nullptr);
  const auto& ring = std::get<Polygon>(tree.item.value).rings.at(0);
  ASSERT_EQ(ring.coords.size(), static_cast<std::size_t>(n));
  EXPECT_EQ(ring.coords.back().x, n - 1.0);
  EXPECT_EQ(ring.coords.back().y, -(n - 1.0) - 0.5);
}

}  // namespace
}  // namespace quillmere::wkt
