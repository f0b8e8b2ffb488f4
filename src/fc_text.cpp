#include "fc_text.hpp"

#include <malloc.h>

#include <vector>

#include "geojson/geojson.hpp"
#include "pipeline/pipelines.hpp"

namespace quillmere::python {

namespace {

struct Reference {
  PyObject* object = nullptr;
  explicit Reference(PyObject* o) : object(o) {}
  Reference(const Reference&) = delete;
  Reference& operator=(const Reference&) = delete;
  ~Reference() { Py_XDECREF(object); }
};

class StrBlocks final : public FeatureTextSink {
 public:
  StrBlocks() = default;
  StrBlocks(const StrBlocks&) = delete;
  StrBlocks& operator=(const StrBlocks&) = delete;
  ~StrBlocks() { release(); }

  bool begin(std::size_t blocks) override {
    blocks_.assign(blocks, nullptr);
    return true;
  }

  bool take(std::size_t block, std::string_view text) override {
    if (text.empty()) return true;
    blocks_[block] = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    return blocks_[block] != nullptr;
  }

  void release() {
    for (PyObject*& block : blocks_) Py_CLEAR(block);
  }

  // Head, the non-empty blocks separated by ",", tail: one str. The blocks
  // go into the joined list and are released with it.
  PyObject* join() {
    std::size_t present = 0;
    for (PyObject* block : blocks_) present += block != nullptr ? 1 : 0;
    const std::string_view head = geojson::kFeatureCollectionHead;
    const std::string_view tail = geojson::kFeatureCollectionTail;
    Reference comma(PyUnicode_FromStringAndSize(",", 1));
    Reference empty(PyUnicode_FromStringAndSize("", 0));
    Reference pieces(PyList_New(static_cast<Py_ssize_t>(present == 0 ? 2 : 2 * present + 1)));
    if (comma.object == nullptr || empty.object == nullptr || pieces.object == nullptr) return nullptr;
    Py_ssize_t at = 0;
    auto put = [&](PyObject* item) {  // steals `item`
      PyList_SetItem(pieces.object, at++, item);
      return item != nullptr;
    };
    if (!put(PyUnicode_FromStringAndSize(head.data(), static_cast<Py_ssize_t>(head.size())))) return nullptr;
    bool first = true;
    for (PyObject*& block : blocks_) {
      if (block == nullptr) continue;
      if (!first) {
        Py_INCREF(comma.object);
        put(comma.object);
      }
      first = false;
      put(block);
      block = nullptr;
    }
    if (!put(PyUnicode_FromStringAndSize(tail.data(), static_cast<Py_ssize_t>(tail.size())))) return nullptr;
    return PyUnicode_Join(empty.object, pieces.object);
  }

 private:
  std::vector<PyObject*> blocks_;  // owned; null for an empty block
};

}  // namespace

std::optional<PyObject*> feature_collection_text(std::string_view geojson, std::uint64_t smoothing_iterations,
                                                 double tolerance) {
  StrBlocks blocks;
  switch (smooth_simplify_fc_blocks(geojson, smoothing_iterations, tolerance, blocks)) {
    case FcBlocksResult::NotTaken:
      return std::nullopt;
    case FcBlocksResult::SinkGaveUp:
      return nullptr;
    case FcBlocksResult::Written:
      break;
  }
  // The join copies every block once more: first hand back to the system
  // what the workers' heaps keep of the freed trees, polygons and buffers,
  // so that the two copies are about all the call holds at that moment.
  malloc_trim(0);
  return blocks.join();
}

}  // namespace quillmere::python
