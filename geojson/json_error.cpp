#include "geojson.hpp"

namespace quillmere::json {

std::string_view message(ErrorCode code) noexcept {
  switch (code) {
    case ErrorCode::EofWhileParsingList:
      return "EOF while parsing a list";
    case ErrorCode::EofWhileParsingObject:
      return "EOF while parsing an object";
    case ErrorCode::EofWhileParsingString:
      return "EOF while parsing a string";
    case ErrorCode::EofWhileParsingValue:
      return "EOF while parsing a value";
    case ErrorCode::ExpectedColon:
      return "expected `:`";
    case ErrorCode::ExpectedListCommaOrEnd:
      return "expected `,` or `]`";
    case ErrorCode::ExpectedObjectCommaOrEnd:
      return "expected `,` or `}`";
    case ErrorCode::ExpectedIdent:
      return "expected ident";
    case ErrorCode::ExpectedValue:
      return "expected value";
    case ErrorCode::InvalidEscape:
      return "invalid escape";
    case ErrorCode::InvalidNumber:
      return "invalid number";
    case ErrorCode::NumberOutOfRange:
      return "number out of range";
    case ErrorCode::InvalidUnicodeCodePoint:
      return "invalid unicode code point";
    case ErrorCode::ControlCharacterWhileParsingString:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case ErrorCode::KeyMustBeAString:
      return "key must be a string";
    case ErrorCode::LoneLeadingSurrogateInHexEscape:
      return "lone leading surrogate in hex escape";
    case ErrorCode::TrailingComma:
      return "trailing comma";
    case ErrorCode::TrailingCharacters:
      return "trailing characters";
    case ErrorCode::UnexpectedEndOfHexEscape:
      return "unexpected end of hex escape";
    case ErrorCode::RecursionLimitExceeded:
      return "recursion limit exceeded";
  }
  return "unknown error";
}

std::string Error::debug() const {
  std::string out = "Error(";
  write_debug_text(message(), out);
  out += ", line: ";
  out += std::to_string(line);
  out += ", column: ";
  out += std::to_string(column);
  out += ')';
  return out;
}

}  // namespace quillmere::json
