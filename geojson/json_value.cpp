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

Value Value::boolean(bool b) noexcept {
  Value v = make(Kind::Bool, 0);
  v.bits_ = b ? 1 : 0;
  return v;
}

Value Value::unsigned_integer(std::uint64_t u) noexcept {
  Value v = make(Kind::Unsigned, 0);
  v.bits_ = u;
  return v;
}

Value Value::negative_integer(std::int64_t i) noexcept {
  Value v = make(Kind::Negative, 0);
  v.int_ = i;
  return v;
}

Value Value::floating(double f) noexcept {
  Value v = make(Kind::Float, 0);
  v.float_ = f;
  return v;
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

Value Value::string(std::string_view text) noexcept {
  Value v = make(Kind::String, text.size());
  v.ptr_ = text.data();
  return v;
}

Value Value::array(std::span<const Value> elements) noexcept {
  Value v = make(Kind::Array, elements.size());
  v.ptr_ = elements.data();
  return v;
}

Value Value::object(std::span<const Member> members) noexcept {
  Value v = make(Kind::Object, members.size());
  v.ptr_ = members.data();
  return v;
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

std::string_view Value::string() const noexcept {
  if (!is_string()) return {};
  return {static_cast<const char*>(ptr_), size()};
}

std::span<const Value> Value::elements() const noexcept {
  if (!is_array()) return {};
  return {static_cast<const Value*>(ptr_), size()};
}

std::span<const Member> Value::members() const noexcept {
  if (!is_object()) return {};
  return {static_cast<const Member*>(ptr_), size()};
}

std::optional<std::span<const Value>> Value::as_array() const noexcept {
  if (!is_array()) return std::nullopt;
  return elements();
}

std::optional<double> Value::as_f64() const noexcept {
  switch (kind()) {
    case Kind::Unsigned:
      return static_cast<double>(bits_);
    case Kind::Negative:
      return static_cast<double>(int_);
    case Kind::Float:
      return float_;
    default:
      return std::nullopt;
  }
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
