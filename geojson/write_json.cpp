// Compact JSON text of a value tree.
#include <charconv>

#include "geojson.hpp"

namespace quillmere::json {

namespace {

// 0: copy; otherwise the character after the backslash ('u' for \u00XX).
constexpr auto kEscape = [] {
  struct Table {
    char c[256] = {};
  } t;
  for (int i = 0; i < 0x20; ++i) t.c[i] = 'u';
  t.c[static_cast<unsigned char>('\b')] = 'b';
  t.c[static_cast<unsigned char>('\t')] = 't';
  t.c[static_cast<unsigned char>('\n')] = 'n';
  t.c[static_cast<unsigned char>('\f')] = 'f';
  t.c[static_cast<unsigned char>('\r')] = 'r';
  t.c[static_cast<unsigned char>('"')] = '"';
  t.c[static_cast<unsigned char>('\\')] = '\\';
  return t;
}();

void write_number(const Number& n, std::string& out) {
  char buffer[kMaxNumberText];
  out.append(buffer, write_number_text(n, buffer));
}

}  // namespace

void write_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char e = kEscape.c[static_cast<unsigned char>(text[i])];
    if (e == 0) continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    out += '\\';
    out += e;
    if (e == 'u') {
      unsigned char c = static_cast<unsigned char>(text[i]);
      out += "00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  out.append(text.data() + run, text.size() - run);
  out += '"';
}

void write_compact(const Value& value, std::string& out) {
  switch (value.kind()) {
    case Kind::Null:
      out += "null";
      return;
    case Kind::Bool:
      out += value.as_bool() ? "true" : "false";
      return;
    case Kind::Unsigned:
    case Kind::Negative:
    case Kind::Float:
      write_number(value.number(), out);
      return;
    case Kind::String:
      write_string(value.string(), out);
      return;
    case Kind::Array: {
      out += '[';
      bool first = true;
      for (const Value& element : value.elements()) {
        if (!first) out += ',';
        first = false;
        write_compact(element, out);
      }
      out += ']';
      return;
    }
    case Kind::Object: {
      out += '{';
      bool first = true;
      for (const Member& member : value.members()) {
        if (!first) out += ',';
        first = false;
        write_string(member.key, out);
        out += ':';
        write_compact(member.value, out);
      }
      out += '}';
      return;
    }
  }
}

std::string to_string(const Value& value) {
  std::string out;
  out.reserve(128);
  write_compact(value, out);
  return out;
}

}  // namespace quillmere::json
