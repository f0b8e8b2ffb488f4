// Reading WKT texts while the rest of the list is still being converted.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "geometry/geometry.hpp"
#include "pool/pool.hpp"

namespace quillmere {

// The texts of a long list arrive one by one while the calling thread
// converts the Python strings; the workers, idle until then, read each
// chunk of them as soon as it is complete. finish() gives exactly what
// read_polygons_from_wkts of the whole list gives, stop included: chunks are
// waited for in order, and the first chunk that stops holds the
// lowest-index unreadable text. A read-ahead that is never finished (the
// conversion failed) discards everything, waiting for its chunks first.
// Nothing is started unless the pool already runs, so that the first
// start of the pool, and its possible failure, stays with the pipeline.
class WktReadAhead {
 public:
  static constexpr std::size_t chunk_size = 4096;

  // Called with the views so far; starts reading every complete chunk not
  // yet started. Never throws: on any failure it stops reading ahead, and
  // finish() reads the rest.
  void converted(std::span<const std::string_view> texts) noexcept;

  // The polygons of all texts (the same list `converted` saw, now whole).
  std::vector<Polygon> finish(std::span<const std::string_view> texts);

 private:
  struct Chunk {
    std::vector<std::string_view> views;  // the chunk's own copy: the list may move
    std::vector<Polygon> polygons;
    std::unique_ptr<pool::BackgroundBatch> batch;
  };
  static void read(void* context, std::size_t begin, std::size_t end);

  std::deque<Chunk> chunks_;  // addresses stay put while their batches run
  std::size_t started_ = 0;   // texts handed to chunks
  bool enabled_ = true;
};

}  // namespace quillmere
