#include <new>
#include <utility>

#include <sys/mman.h>

#include "geojson.hpp"

namespace quillmere::geojson {

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
  if (this != &other) {
    TextBuffer gone(std::move(*this));
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

TextBuffer::~TextBuffer() {
  if (data_ != nullptr) munmap(data_, capacity_);
}

void TextBuffer::grow(std::size_t n) {
  constexpr std::size_t kPage = 4096;
  std::size_t capacity = std::max<std::size_t>(capacity_ * 2, 16 * kPage);
  if (capacity - size_ < n) capacity = size_ + n;
  capacity = (capacity + kPage - 1) & ~(kPage - 1);
  void* data = data_ == nullptr ? mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                : mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
  if (data == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<char*>(data);
  capacity_ = capacity;
}

}  // namespace quillmere::geojson
