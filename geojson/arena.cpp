#include <algorithm>
#include <cstring>

#include "geojson.hpp"

namespace quillmere::json {

namespace {
// Chunks grow geometrically up to this size, so that a large document wastes
// at most one partly used chunk.
constexpr std::size_t kMaxChunk = 32 * 1024 * 1024;
}  // namespace

void* Arena::allocate_chunk(std::size_t bytes) {
  std::size_t size = std::max(bytes, next_chunk_);
  // Uninitialised on purpose: large chunks stay untouched until written.
  chunks_.push_back(std::unique_ptr<std::byte[]>(new std::byte[size]));
  next_chunk_ = std::min(next_chunk_ * 2, kMaxChunk);
  std::byte* p = chunks_.back().get();
  cursor_ = p + bytes;
  left_ = size - bytes;
  return p;
}

std::string_view Arena::copy_string(std::string_view text) {
  if (text.empty()) return {};
  char* p = static_cast<char*>(allocate(text.size()));
  std::memcpy(p, text.data(), text.size());
  return {p, text.size()};
}

Value Arena::make_object(std::span<Member> members) {
  auto by_key = [](const Member& a, const Member& b) { return a.key < b.key; };
  if (members.size() <= 16) {
    // Stable insertion sort: cheaper than stable_sort's buffer for small objects.
    for (std::size_t i = 1; i < members.size(); ++i) {
      Member m = members[i];
      std::size_t j = i;
      while (j > 0 && by_key(m, members[j - 1])) {
        members[j] = members[j - 1];
        --j;
      }
      members[j] = m;
    }
  } else {
    std::stable_sort(members.begin(), members.end(), by_key);
  }
  // Among equal keys (kept in reading order) the last one wins.
  std::size_t out = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i + 1 < members.size() && members[i + 1].key == members[i].key) continue;
    members[out++] = members[i];
  }
  if (out == 0) return Value::object({});
  auto* p = static_cast<Member*>(allocate(out * sizeof(Member)));
  std::uninitialized_copy(members.begin(), members.begin() + static_cast<std::ptrdiff_t>(out), p);
  return Value::object({p, out});
}

}  // namespace quillmere::json
