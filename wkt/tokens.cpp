#include <array>

#include "wkt.hpp"

namespace quillmere::wkt {
namespace {

// Only these four ASCII bytes separate tokens; VT, FF and non-ASCII spaces
// are ordinary characters.
constexpr bool is_whitespace(unsigned char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
constexpr bool is_marker(unsigned char c) noexcept { return c == '\0' || c == '(' || c == ')' || c == ','; }

// One table lookup per byte in the scan of word and number texts.
enum : unsigned char { ordinary = 0, marker = 1, whitespace = 2 };
constexpr auto byte_classes = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<unsigned char>(c);
    table[b] = is_marker(b) ? marker : is_whitespace(b) ? whitespace : ordinary;
  }
  return table;
}();

Token simple(Token::Kind kind) noexcept {
  Token token;
  token.kind = kind;
  return token;
}

}  // namespace

std::string_view Tokens::read_until_whitespace(std::size_t start) noexcept {
  std::size_t end = pos_;
  while (end < text_.size()) {
    const unsigned char kind = byte_classes[static_cast<unsigned char>(text_[end])];
    if (kind == ordinary) {
      ++end;
      continue;
    }
    // A marker is left for the next request; whitespace is consumed but is
    // not part of the text.
    pos_ = kind == whitespace ? end + 1 : end;
    return text_.substr(start, end - start);
  }
  pos_ = end;
  return text_.substr(start, end - start);
}

Token Tokens::next() noexcept {
  while (pos_ < text_.size() && is_whitespace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  if (pos_ == text_.size()) return simple(Token::Kind::Nothing);
  const std::size_t start = pos_;
  const auto c = static_cast<unsigned char>(text_[pos_++]);
  switch (c) {
    case '\0':
      return simple(Token::Kind::Nothing);  // consumed: a later request goes on behind it
    case '(':
      return simple(Token::Kind::OpenParen);
    case ')':
      return simple(Token::Kind::CloseParen);
    case ',':
      return simple(Token::Kind::Comma);
    default:
      break;
  }
  if (c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9')) {
    // A leading "+" is dropped from the number text.
    const std::string_view number_text = read_until_whitespace(c == '+' ? start + 1 : start);
    Token token;
    if (parse_number(number_text, token.number)) {
      token.kind = Token::Kind::Number;
    } else {
      token.kind = Token::Kind::Error;
      token.error = errors::bad_number;
    }
    return token;
  }
  Token token;
  token.kind = Token::Kind::Word;
  token.text = read_until_whitespace(start);
  return token;
}

const Token& TokenStream::peek() noexcept {
  if (!slot_) slot_ = next();
  return *slot_;
}

Token TokenStream::next() noexcept {
  if (slot_) {
    Token token = *slot_;
    slot_.reset();
    return token;
  }
  return tokens_.next();
}

}  // namespace quillmere::wkt
