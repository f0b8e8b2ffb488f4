#include <algorithm>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "geojson.hpp"

namespace quillmere::json {

namespace {
// Chunks grow geometrically up to this size, so that a large document wastes
// at most one partly used chunk.
constexpr std::size_t kMaxChunk = 32 * 1024 * 1024;

// Chunks from this size on are mapped from the system.
constexpr std::size_t kMappedChunk = 1024 * 1024;
}  // namespace

void Arena::ChunkRelease::operator()(std::byte* chunk) const noexcept {
  if (size >= kMappedChunk) {
    munmap(chunk, size);
  } else {
    delete[] chunk;
  }
}

Arena::Chunk Arena::new_chunk(std::size_t size) {
  if (size < kMappedChunk) return Chunk(new std::byte[size], ChunkRelease{size});
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return Chunk(static_cast<std::byte*>(p), ChunkRelease{size});
}

void Arena::reuse() noexcept {
  if (chunks_.empty()) return;
  auto largest = std::max_element(chunks_.begin(), chunks_.end(),
                                  [](const Chunk& a, const Chunk& b) { return a.get_deleter().size < b.get_deleter().size; });
  Chunk kept = std::move(*largest);
  chunks_.clear();
  cursor_ = kept.get();
  left_ = kept.get_deleter().size;
  chunks_.push_back(std::move(kept));
}

void* Arena::allocate_chunk(std::size_t bytes) {
  std::size_t size = std::max(bytes, next_chunk_);
  // Uninitialised on purpose: large chunks stay untouched until written.
  chunks_.push_back(new_chunk(size));
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
