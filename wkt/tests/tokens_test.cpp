#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "wkt/wkt.hpp"

namespace quillmere::wkt {
namespace {

// A compact description of every outcome until (and including) the first
// "nothing" at the end of the text.
std::vector<std::string> describe_all(std::string_view text) {
  Tokens tokens(text);
  std::vector<std::string> out;
  for (int guard = 0; guard < 100; ++guard) {
    const Token t = tokens.next();
    switch (t.kind) {
      case Token::Kind::Nothing: out.push_back("nothing"); break;
      case Token::Kind::Error: out.push_back(std::string("error:") + t.error); break;
      case Token::Kind::Comma: out.push_back(","); break;
      case Token::Kind::OpenParen: out.push_back("("); break;
      case Token::Kind::CloseParen: out.push_back(")"); break;
      case Token::Kind::Word: out.push_back("word:" + std::string(t.text)); break;
      case Token::Kind::Number: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "num:%.17g", t.number);
        out.push_back(buf);
        break;
      }
    }
    // Only a "nothing" at the true end of the text stops the scan; a NUL
    // gives nothing too and is followed by more tokens.
    if (t.kind == Token::Kind::Nothing && out.size() > 1 && out[out.size() - 2] == "nothing") break;
  }
  return out;
}

using V = std::vector<std::string>;

struct TokenCase {
  std::string text;
  V expected;
};

class TokenTable : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenTable, Tokenizes) { EXPECT_EQ(describe_all(GetParam().text), GetParam().expected); }

const std::string kBadNumber = std::string("error:") + errors::bad_number;

INSTANTIATE_TEST_SUITE_P(
    Cases, TokenTable,
    ::testing::Values(
        TokenCase{"POLYGON((", {"word:POLYGON", "(", "(", "nothing", "nothing"}},
        TokenCase{"1,2", {"num:1", ",", "num:2", "nothing", "nothing"}},
        TokenCase{"1-2", {kBadNumber, "nothing", "nothing"}},
        // Only TAB, LF, CR and SPACE separate; VT and FF belong to the text.
        TokenCase{"\t a\n\rb ", {"word:a", "word:b", "nothing", "nothing"}},
        TokenCase{"a\vb\fc", {"word:a\vb\fc", "nothing", "nothing"}},
        TokenCase{"1\v", {kBadNumber, "nothing", "nothing"}},
        // A non-ASCII space is an ordinary character too.
        TokenCase{"a\xc2\xa0" "b", {"word:a\xc2\xa0" "b", "nothing", "nothing"}},
        // NUL ends the word without being consumed, then yields nothing and
        // is consumed; the scan goes on behind it.
        TokenCase{std::string("ab\0cd", 5), {"word:ab", "nothing", "word:cd", "nothing", "nothing"}},
        TokenCase{std::string("12\0(", 4), {"num:12", "nothing", "(", "nothing", "nothing"}},
        // A leading "+" is dropped from the number text.
        TokenCase{"+1", {"num:1", "nothing", "nothing"}},
        TokenCase{"+-1", {"num:-1", "nothing", "nothing"}},
        TokenCase{"++1", {"num:1", "nothing", "nothing"}},
        TokenCase{"+ 1", {kBadNumber, "num:1", "nothing", "nothing"}},
        TokenCase{"+(", {kBadNumber, "(", "nothing", "nothing"}},
        // Unsigned nan/inf are words; signed ones are numbers.
        TokenCase{"nan inf infinity", {"word:nan", "word:inf", "word:infinity", "nothing", "nothing"}},
        TokenCase{"-inf +Infinity", {"num:-inf", "num:inf", "nothing", "nothing"}},
        TokenCase{"a(b)c,d", {"word:a", "(", "word:b", ")", "word:c", ",", "word:d", "nothing", "nothing"}},
        TokenCase{"", {"nothing", "nothing"}},
        TokenCase{"   ", {"nothing", "nothing"}}));

struct NumberCase {
  std::string text;
  bool ok;
  double value;
};

class NumberTable : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberTable, Parses) {
  double value = 12345.0;
  const auto& c = GetParam();
  ASSERT_EQ(parse_number(c.text, value), c.ok) << c.text;
  if (!c.ok) return;
  if (std::isnan(c.value)) {
    EXPECT_TRUE(std::isnan(value));
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.text;
  } else {
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.text;
  }
}

const double kInf = INFINITY;
const double kNan = NAN;

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberTable,
    ::testing::Values(
        NumberCase{"1", true, 1.0}, NumberCase{"-2", true, -2.0}, NumberCase{"1.", true, 1.0},
        NumberCase{".5", true, 0.5}, NumberCase{"1E+2", true, 100.0}, NumberCase{"1e-2", true, 0.01},
        NumberCase{"-0", true, -0.0}, NumberCase{"0", true, 0.0}, NumberCase{"-0.0e5", true, -0.0},
        NumberCase{"0.1", true, 0.1}, NumberCase{"00012.50", true, 12.5},
        // Correct rounding, ties to even, also with many digits.
        NumberCase{"9007199254740993", true, 9007199254740992.0},
        NumberCase{"9007199254740993.0000000000000000000000001", true, 9007199254740994.0},
        // Exactly half the smallest subnormal ties to even (zero); a hair above rounds up.
        NumberCase{"2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991818081799618989828234772285886546332835517796989819938739800539093906315035659515570226392290858392449105184435931802849936536152500319370457678249219365623669863658480757001585769269903706311928279558551332927834338409351978015531246597263579574622766465272827220056374006485499977096599470454020828166226237857393450736339007967761930577506740176324673600968951340535537458516661134223766678604162159680461914467291840300530057530849048765391711386591646239524912623653881879636239373280423891018672348497668235089863388587925628302755995657524455507255189313690836254779186948667994968324049705821028513185451396213837722826145437693412532098591327667236328125e-324", true, 0.0},
        NumberCase{"2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991818081799618989828234772285886546332835517796989819938739800539093906315035659515570226392290858392449105184435931802849936536152500319370457678249219365623669863658480757001585769269903706311928279558551332927834338409351978015531246597263579574622766465272827220056374006485499977096599470454020828166226237857393450736339007967761930577506740176324673600968951340535537458516661134223766678604162159680461914467291840300530057530849048765391711386591646239524912623653881879636239373280423891018672348497668235089863388587925628302755995657524455507255189313690836254779186948667994968324049705821028513185451396213837722826145437693412532098591327667236328126e-324", true, 5e-324},
        NumberCase{"2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991818081799618989828234772285886546332835517796989819938739800539093906315035659515570226392290858392449105184435931802849936536152500319370457678249219365623669863658480757001585769269903706311928279558551332927834338409351978015531246597263579574622766465272827220056374006485499977096599470454020828166226237857393450736339007967761930577506740176324673600968951340535537458516661134223766678604162159680461914467291840300530057530849048765391711386591646239524912623653881879636239373280423891018672348497668235089863388587925628302755995657524455507255189313690836254779186948667994968324049705821028513185451396213837722826145437693412532098591327667236328124e-324", true, 0.0},
        // Overflow and underflow are values keeping the sign, not errors.
        NumberCase{"1e400", true, kInf}, NumberCase{"-1e400", true, -kInf},
        NumberCase{"1e-400", true, 0.0}, NumberCase{"-1e-400", true, -0.0},
        NumberCase{"0.000000000000000000000000000000001e-300", true, 0.0},
        NumberCase{"100000000000000000000000000000000e300", true, kInf},
        NumberCase{"1e99999999999999999999999999", true, kInf},
        NumberCase{"1e-99999999999999999999999999", true, 0.0},
        NumberCase{"0e99999999999999999999999999", true, 0.0},
        NumberCase{"1.7976931348623157e308", true, 1.7976931348623157e308},
        NumberCase{"1.7976931348623159e308", true, kInf},
        NumberCase{"4.9406564584124654e-324", true, 5e-324},
        // A long fraction must not cancel a huge exponent that stopped being
        // counted: the value is still far out of range.
        NumberCase{"0." + std::string(99994, '0') + "1e1000000000", true, kInf},
        NumberCase{"1" + std::string(100010, '0') + "e-1000000000", true, 0.0},
        NumberCase{"0." + std::string(99994, '0') + "1e100000", true, 1e5},
        NumberCase{"nan", true, kNan}, NumberCase{"-nan", true, -kNan}, NumberCase{"NaN", true, kNan},
        NumberCase{"-inf", true, -kInf}, NumberCase{"INF", true, kInf}, NumberCase{"-Infinity", true, -kInf},
        // Everything else fails.
        NumberCase{"", false, 0}, NumberCase{"-", false, 0}, NumberCase{"+", false, 0},
        NumberCase{".", false, 0}, NumberCase{"1..2", false, 0}, NumberCase{"1.2.3", false, 0},
        NumberCase{"1e", false, 0}, NumberCase{"1e+", false, 0}, NumberCase{"e5", false, 0},
        NumberCase{"0x10", false, 0}, NumberCase{"1_000", false, 0}, NumberCase{"1,5", false, 0},
        NumberCase{"nan(1)", false, 0}, NumberCase{"infinit", false, 0}, NumberCase{"infinityy", false, 0},
        NumberCase{"--1", false, 0}, NumberCase{"+-1", false, 0}, NumberCase{"1-2", false, 0},
        NumberCase{"2abc", false, 0}, NumberCase{" 1", false, 0}, NumberCase{"1 ", false, 0},
        NumberCase{"1e5.0", false, 0}, NumberCase{"p1", false, 0}));

// Every decimal text converts exactly as the correctly rounding from_chars
// does, whatever path it takes (short and long mantissas, near-halfway
// values, exponents in and out of the fast range).
TEST(ParseNumber, AgreesWithCorrectRounding) {
  std::mt19937_64 random(99);
  std::string text;
  for (int round = 0; round < 1000000; ++round) {
    text.clear();
    if (random() % 2) text += '-';
    const int digits = 1 + static_cast<int>(random() % 24);
    const int point = static_cast<int>(random() % (digits + 1));
    for (int i = 0; i < digits; ++i) {
      if (i == point) text += '.';
      // Runs of 9s and 0s reach the halfway cases more often than uniform digits.
      const auto kind = random() % 4;
      text += kind == 0 ? '9' : kind == 1 ? '0' : static_cast<char>('0' + random() % 10);
    }
    if (random() % 3 == 0) text += "e" + std::to_string(static_cast<int>(random() % 80) - 40);
    double ours = 0;
    ASSERT_TRUE(parse_number(text, ours)) << text;
    double expected = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), expected);
    ASSERT_EQ(r.ec, std::errc{}) << text;
    ASSERT_EQ(std::memcmp(&ours, &expected, sizeof ours), 0) << text;
  }
  // Exact halfway between two doubles, and one unit either side.
  for (const char* t : {"9007199254740993", "9007199254740992.5", "9007199254740993.0000001", "9007199254740992.9999999",
                        "1.00000000000000011102230246251565404236316680908203125", "2.5000000000000002220446049250313080847263336181640625",
                        "0.30000000000000001665334536937734810635447502136230468750"}) {
    double ours = 0, expected = 0;
    ASSERT_TRUE(parse_number(t, ours));
    std::from_chars(t, t + std::strlen(t), expected);
    EXPECT_EQ(std::memcmp(&ours, &expected, sizeof ours), 0) << t;
  }
}

}  // namespace
}  // namespace quillmere::wkt
