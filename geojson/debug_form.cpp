// Debug forms of texts and values, as shown in stop messages.
#include <charconv>

#include "geojson.hpp"

namespace quillmere::json {

namespace {

void write_hex_escape(unsigned code, std::string& out) {
  char buffer[8];
  char* end = std::to_chars(buffer, buffer + sizeof buffer, code, 16).ptr;
  out += "\\u{";
  out.append(buffer, end);
  out += '}';
}

}  // namespace

void write_debug_text(std::string_view text, std::string& out) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\0':
        out += "\\0";
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      write_hex_escape(c, out);
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // C1 control characters (U+0080..U+009F) are invisible too.
      write_hex_escape(static_cast<unsigned char>(text[i + 1]), out);
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

std::string debug_text(std::string_view text) {
  std::string out;
  write_debug_text(text, out);
  return out;
}

// Depth is bounded by the reader's nesting limit.
void write_debug(const Value& value, std::string& out) {
  switch (value.kind()) {
    case Kind::Null:
      out += "Null";
      return;
    case Kind::Bool:
      out += value.as_bool() ? "Bool(true)" : "Bool(false)";
      return;
    case Kind::Unsigned:
    case Kind::Negative:
    case Kind::Float: {
      out += "Number(";
      char buffer[kMaxNumberText];
      out.append(buffer, write_number_text(value.number(), buffer));
      out += ')';
      return;
    }
    case Kind::String:
      out += "String(";
      write_debug_text(value.string(), out);
      out += ')';
      return;
    case Kind::Array: {
      out += "Array [";
      bool first = true;
      for (const Value& element : value.elements()) {
        if (!first) out += ", ";
        first = false;
        write_debug(element, out);
      }
      out += ']';
      return;
    }
    case Kind::Object: {
      out += "Object {";
      bool first = true;
      for (const Member& member : value.members()) {
        if (!first) out += ", ";
        first = false;
        write_debug_text(member.key, out);
        out += ": ";
        write_debug(member.value, out);
      }
      out += '}';
      return;
    }
  }
}

std::string debug(const Value& value) {
  std::string out;
  write_debug(value, out);
  return out;
}

}  // namespace quillmere::json
