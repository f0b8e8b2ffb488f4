#include "wkt_read_ahead.hpp"

#include <exception>
#include <utility>

#include "pipelines.hpp"
#include "wkt/wkt.hpp"

namespace quillmere {

void WktReadAhead::read(void* context, std::size_t begin, std::size_t end) {
  auto& chunk = *static_cast<Chunk*>(context);
  for (std::size_t i = begin; i < end; ++i) chunk.polygons[i] = wkt::read_polygon_from_wkt(chunk.views[i]);
}

void WktReadAhead::converted(std::span<const std::string_view> texts) noexcept {
  if (!enabled_) return;
  if (!pool::pool_running()) {
    enabled_ = false;
    return;
  }
  try {
    while (texts.size() - started_ >= chunk_size) {
      Chunk& chunk = chunks_.emplace_back();
      chunk.views.assign(texts.begin() + static_cast<std::ptrdiff_t>(started_),
                         texts.begin() + static_cast<std::ptrdiff_t>(started_ + chunk_size));
      chunk.polygons.resize(chunk_size);
      chunk.batch = std::make_unique<pool::BackgroundBatch>(chunk_size, &WktReadAhead::read, &chunk);
      started_ += chunk_size;
    }
  } catch (...) {
    // A chunk that did not start is read with the rest in finish().
    if (!chunks_.empty() && !chunks_.back().batch) chunks_.pop_back();
    enabled_ = false;
  }
}

std::vector<Polygon> WktReadAhead::finish(std::span<const std::string_view> texts) {
  // Every chunk ends before anything is thrown: the first stop wins.
  std::exception_ptr first_stop;
  for (Chunk& chunk : chunks_) {
    try {
      chunk.batch->wait();
    } catch (...) {
      if (!first_stop) first_stop = std::current_exception();
    }
  }
  if (first_stop) std::rethrow_exception(first_stop);
  std::vector<Polygon> rest = read_polygons_from_wkts(texts.subspan(started_));
  if (chunks_.empty()) return rest;
  std::vector<Polygon> polygons;
  polygons.reserve(texts.size());
  for (Chunk& chunk : chunks_) {
    for (Polygon& polygon : chunk.polygons) polygons.push_back(std::move(polygon));
    std::vector<Polygon>().swap(chunk.polygons);
  }
  for (Polygon& polygon : rest) polygons.push_back(std::move(polygon));
  return polygons;
}

}  // namespace quillmere
