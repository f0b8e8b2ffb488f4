#include "wkt_texts.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "pipeline/pipelines.hpp"
#include "pool/handover.hpp"
#include "pool/pool.hpp"
#include "wkt/wkt.hpp"

namespace quillmere::python {

namespace {

// Polygons per handed-over block: small enough that the calling thread
// starts early and is left with little at the end, and that a block's text
// is still in the cache when the calling thread copies it; large enough
// that the hand-over costs nothing.
constexpr std::size_t block_size = 256;

struct Block {
  std::size_t begin = 0;
  std::size_t end = 0;
  wkt::TextSink sink;
  std::vector<std::size_t> ends;  // end of each polygon's text in the sink
};

struct Writing {
  std::vector<Polygon>* polygons;
  std::uint64_t smoothing_iterations;
  double tolerance;
  std::span<const std::string_view> inputs;
  pool::Handover<Block> blocks;

  static void piece(void* context, std::size_t begin, std::size_t end) {
    auto& w = *static_cast<Writing*>(context);
    try {
      for (std::size_t first = begin; first < end; first += block_size) {
        if (w.blocks.abandoned()) return;
        Block block = w.blocks.take_spare();
        block.begin = first;
        block.end = std::min(end, first + block_size);
        // The output of k = 0 is about as long as the input: growing is rare.
        std::size_t expected = 64;
        for (std::size_t i = block.begin; i < block.end; ++i) expected += w.inputs[i].size();
        block.sink.clear();
        block.sink.reserve(expected);
        block.ends.clear();
        block.ends.reserve(block.end - block.begin);
        for (std::size_t i = block.begin; i < block.end; ++i) {
          const Polygon result =
              smooth_simplify_polygon(std::move((*w.polygons)[i]), w.smoothing_iterations, w.tolerance);
          wkt::write_polygon_text(result, block.sink);
          block.ends.push_back(block.sink.size());
        }
        w.blocks.hand_over(std::move(block));
      }
    } catch (...) {
      w.blocks.stop();
      throw;
    }
  }
};

struct ListOwner {
  void operator()(PyObject* list) const noexcept { Py_DECREF(list); }
};

// Turns a block's texts into str objects in their places of the list.
bool convert(const Block& block, PyObject* list) {
  std::size_t start = 0;
  for (std::size_t i = block.begin; i < block.end; ++i) {
    const std::size_t end = block.ends[i - block.begin];
    PyObject* text = PyUnicode_FromStringAndSize(block.sink.data() + start, static_cast<Py_ssize_t>(end - start));
    if (text == nullptr) return false;
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), text);
    start = end;
  }
  return true;
}

}  // namespace

PyObject* wkt_text_list(std::vector<Polygon> polygons, std::uint64_t smoothing_iterations, double tolerance,
                        std::span<const std::string_view> inputs, CallTemporaries& spent) {
  const std::size_t n = polygons.size();
  std::unique_ptr<PyObject, ListOwner> list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  Writing writing;
  writing.polygons = &polygons;
  writing.smoothing_iterations = smoothing_iterations;
  writing.tolerance = tolerance;
  writing.inputs = inputs;
  bool converted_all = true;
  bool spent_left = true;
  pool::BackgroundBatch batch(n, &Writing::piece, &writing);
  for (std::size_t converted = 0; converted < n;) {
    std::vector<Block> taken;
    if (spent_left) {
      // Nothing to convert yet: free some of the inputs' bytes meanwhile.
      if (!writing.blocks.try_take(taken)) {
        spent_left = spent.release_some(4096);
        continue;
      }
    } else {
      writing.blocks.take(taken);
    }
    if (taken.empty()) break;  // stopped: wait() below throws the stop
    for (const Block& block : taken) {
      if (!convert(block, list.get())) {
        converted_all = false;
        break;
      }
      converted += block.end - block.begin;
    }
    if (!converted_all) {
      writing.blocks.abandon();
      break;
    }
    writing.blocks.give_back(taken);
  }
  batch.wait();
  if (!converted_all) return nullptr;
  return list.release();
}

}  // namespace quillmere::python
