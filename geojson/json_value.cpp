#include <algorithm>

#include "geojson.hpp"

namespace quillmere::json {

double Number::as_f64() const noexcept {
  switch (kind) {
    case Kind::Unsigned:
      return static_cast<double>(u);
    case Kind::Negative:
      return static_cast<double>(i);
    case Kind::Float:
      break;
  }
  return f;
}

Value Value::number(Number n) noexcept {
  switch (n.kind) {
    case Number::Kind::Unsigned:
      return unsigned_integer(n.u);
    case Number::Kind::Negative:
      return negative_integer(n.i);
    case Number::Kind::Float:
      break;
  }
  return floating(n.f);
}

Number Value::number() const noexcept {
  Number n;
  switch (kind()) {
    case Kind::Negative:
      n.kind = Number::Kind::Negative;
      n.i = int_;
      break;
    case Kind::Float:
      n.kind = Number::Kind::Float;
      n.f = float_;
      break;
    default:
      n.kind = Number::Kind::Unsigned;
      n.u = bits_;
      break;
  }
  return n;
}

const Value* Value::find(std::string_view key) const noexcept {
  std::span<const Member> m = members();
  // Objects are small in practice; a linear scan beats a binary search there.
  if (m.size() <= 8) {
    for (const Member& member : m) {
      if (member.key == key) return &member.value;
    }
    return nullptr;
  }
  auto it = std::lower_bound(m.begin(), m.end(), key,
                             [](const Member& member, std::string_view k) { return member.key < k; });
  if (it != m.end() && it->key == key) return &it->value;
  return nullptr;
}

}  // namespace quillmere::json
