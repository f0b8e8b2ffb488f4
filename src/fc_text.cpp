#include "fc_text.hpp"

#include <chrono>
#include <utility>
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

// The call's str, made on the calling thread from the blocks' texts. Each
// block becomes a str as the workers hand it over; once all have come (and
// the workers' memory is free) they are appended in order to the result
// with PyUnicode_Append, which resizes a str that nobody else holds in
// place, each released once appended: the result never exists twice.
// (Appending while blocks still come would hold the growing result beside
// the workers' trees and polygons, a higher peak.) Should appending turn
// out to copy the whole text each time (slower than a generous bound), the
// blocks left are joined at once instead, as copying them all again and
// again would not end.
class StrBlocks final : public FeatureTextSink {
 public:
  StrBlocks() = default;
  StrBlocks(const StrBlocks&) = delete;
  StrBlocks& operator=(const StrBlocks&) = delete;
  ~StrBlocks() {
    for (PyObject*& block : blocks_) Py_CLEAR(block);
    Py_CLEAR(result_);
    Py_CLEAR(comma_);
  }

  bool begin(std::size_t blocks) override {
    blocks_.assign(blocks, nullptr);
    const std::string_view head = geojson::kFeatureCollectionHead;
    comma_ = PyUnicode_FromStringAndSize(",", 1);
    result_ = PyUnicode_FromStringAndSize(head.data(), static_cast<Py_ssize_t>(head.size()));
    return comma_ != nullptr && result_ != nullptr;
  }

  bool take(std::size_t block, std::string_view text) override {
    if (text.empty()) return true;
    blocks_[block] = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    return blocks_[block] != nullptr;
  }

  // Head, the non-empty blocks separated by ",", tail: one str (every block
  // has come).
  PyObject* join() {
    const std::string_view tail = geojson::kFeatureCollectionTail;
    const auto start = std::chrono::steady_clock::now();
    double appended_bytes = 0.0;
    for (; next_ < blocks_.size(); ++next_) {
      PyObject* block = blocks_[next_];
      if (block == nullptr) continue;
      const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
      if (spent.count() > 0.05 + appended_bytes / 4e8) return join_rest(tail);
      if (appended_any_) PyUnicode_Append(&result_, comma_);
      appended_any_ = true;
      if (result_ != nullptr) PyUnicode_Append(&result_, block);
      appended_bytes += static_cast<double>(PyUnicode_GetLength(block));
      Py_CLEAR(blocks_[next_]);
      if (result_ == nullptr) return nullptr;
    }
    Reference end(PyUnicode_FromStringAndSize(tail.data(), static_cast<Py_ssize_t>(tail.size())));
    if (end.object == nullptr) return nullptr;
    PyUnicode_Append(&result_, end.object);
    return std::exchange(result_, nullptr);
  }

 private:
  // The text so far, the blocks from next_ on and the tail, in one
  // PyUnicode_Join.
  PyObject* join_rest(std::string_view tail) {
    Reference text(std::exchange(result_, nullptr));
    Reference pieces(PyList_New(0));
    Reference empty(PyUnicode_FromStringAndSize("", 0));
    if (pieces.object == nullptr || empty.object == nullptr || PyList_Append(pieces.object, text.object) < 0) {
      return nullptr;
    }
    for (; next_ < blocks_.size(); ++next_) {
      if (blocks_[next_] == nullptr) continue;
      if (appended_any_ && PyList_Append(pieces.object, comma_) < 0) return nullptr;
      appended_any_ = true;
      if (PyList_Append(pieces.object, blocks_[next_]) < 0) return nullptr;
      Py_CLEAR(blocks_[next_]);  // the list holds it now
    }
    Reference end(PyUnicode_FromStringAndSize(tail.data(), static_cast<Py_ssize_t>(tail.size())));
    if (end.object == nullptr || PyList_Append(pieces.object, end.object) < 0) return nullptr;
    return PyUnicode_Join(empty.object, pieces.object);
  }

  std::vector<PyObject*> blocks_;  // owned until appended; null for an empty block
  std::size_t next_ = 0;           // the first block not yet appended
  PyObject* result_ = nullptr;     // owned
  PyObject* comma_ = nullptr;      // owned
  bool appended_any_ = false;
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
  return blocks.join();
}

}  // namespace quillmere::python
