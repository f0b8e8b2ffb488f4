// The lists of texts of quillmere_tools' text functions: the str items read
// in place, one result text (or None, or an invalid-input reason) per item,
// made on the pool with the interpreter lock released, and the Python list.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pool/pool.hpp"
#include "tools/native.hpp"

namespace quillmere::tools {

// The items of a tuple: views of each str's UTF-8 form (for an ASCII str its
// own storage, for others an encoded copy held here, so that the caller's
// objects keep no cached UTF-8 form), valid while this object lives.
class TextInputs {
 public:
  enum class Kind : std::uint8_t { Text, Missing, Unencodable };

  TextInputs() = default;
  TextInputs(const TextInputs&) = delete;
  TextInputs& operator=(const TextInputs&) = delete;
  ~TextInputs() {
    for (PyObject* bytes : encoded_) Py_DECREF(bytes);
    Py_XDECREF(tuple_);
  }

  // Every item must be str or None (TypeError naming `name` and the
  // position otherwise). A str without a UTF-8 form (a lone surrogate) is an
  // invalid input, with the encoder's message as its reason.
  bool read(PyObject* tuple, const char* name);

  std::size_t size() const noexcept { return texts.size(); }

  std::vector<std::string_view> texts;
  std::vector<Kind> kinds;
  std::vector<std::pair<std::size_t, std::string>> unencodable;

 private:
  PyObject* tuple_ = nullptr;
  std::vector<PyObject*> encoded_;  // the UTF-8 copies of non-ASCII items
};

// The arguments of both text-list functions: (name, texts tuple, iterations,
// tolerance, keep_collapsed, first_only). False with the exception set.
struct TextListArguments {
  TextInputs inputs;
  std::uint64_t iterations = 0;
  double tolerance = 0.0;
  bool keep_collapsed = false;
  bool first_only = false;

  bool parse(PyObject* args) {
    const char* name = nullptr;
    PyObject *texts, *iterations_object;
    int keep = 0, first = 0;
    if (!PyArg_ParseTuple(args, "sO!Odpp", &name, &PyTuple_Type, &texts, &iterations_object, &tolerance, &keep,
                          &first)) {
      return false;
    }
    keep_collapsed = keep != 0;
    first_only = first != 0;
    return read_iterations(iterations_object, iterations) && inputs.read(texts, name);
  }
};

enum class Outcome : std::uint8_t { Written, Missing, Invalid, Skipped };

// Index of the first invalid input; lowered concurrently.
inline void lower_to(std::atomic<std::size_t>& first, std::size_t index) noexcept {
  std::size_t current = first.load(std::memory_order_relaxed);
  while (index < current && !first.compare_exchange_weak(current, index, std::memory_order_relaxed)) {
  }
}

// Builds the call's result tuple (list or None, invalid count, first invalid
// index or -1, its reason or None). Steals `list`.
PyObject* text_list_result(PyObject* list, std::size_t invalid, std::size_t first,
                           const std::string* reason);

// A str from UTF-8 text, or null with the exception set.
PyObject* new_str(const char* data, std::size_t size);

// Runs `process(text, sink, reason)` (true: the result was appended to the
// sink; false: the text is invalid, `reason` says why) for every text of
// `inputs` on the pool, in blocks of consecutive texts that each write into
// a sink of their own. The interpreter lock is released meanwhile; the
// calling thread takes it back briefly to turn each finished block into str
// objects while the workers go on, and to answer signals. With
// `first_only`, texts after an invalid one are not processed (the lowest
// invalid index still comes out, whatever the thread count) and no list is
// returned when one is invalid. `cancelled` is set when a signal handler
// raises (long texts may look at it too). Returns the result of
// text_list_result, or null with the exception set.
template <class Sink, class Process>
PyObject* run_text_list(TextInputs& inputs, bool first_only, Process& process, std::atomic<bool>& cancelled) {
  struct Block {
    Sink sink;
    std::vector<std::size_t> ends;  // end of each text in the sink
    std::vector<Outcome> outcomes;
    std::vector<std::pair<std::size_t, std::string>> invalid;
  };
  struct Work {
    TextInputs* inputs;
    Process* process;
    std::vector<Block>* blocks;
    std::size_t block_size;
    bool first_only;
    std::atomic<std::size_t> first_invalid{SIZE_MAX};
    std::atomic<bool>* cancelled;
    std::mutex mutex;
    std::condition_variable finished_one;
    std::vector<std::size_t> finished;  // blocks ready to be converted

    static void piece(void* context, std::size_t begin, std::size_t end) {
      auto& w = *static_cast<Work*>(context);
      for (std::size_t b = begin; b < end && b < w.blocks->size(); ++b) {
        if (!w.run(b)) return;
        {
          const std::lock_guard<std::mutex> lock(w.mutex);
          w.finished.push_back(b);
        }
        w.finished_one.notify_one();
      }
    }

    // False when cancelled before the block's end.
    bool run(std::size_t b) {
      Block& block = (*blocks)[b];
      const std::size_t first = b * block_size;
      const std::size_t last = std::min(inputs->size(), first + block_size);
      block.ends.reserve(last - first);
      block.outcomes.reserve(last - first);
      std::string reason;
      for (std::size_t i = first; i < last; ++i) {
        if (cancelled->load(std::memory_order_relaxed)) return false;
        Outcome outcome = Outcome::Written;
        if (first_only && i > first_invalid.load(std::memory_order_relaxed)) {
          outcome = Outcome::Skipped;
        } else if (inputs->kinds[i] == TextInputs::Kind::Missing) {
          outcome = Outcome::Missing;
        } else if (inputs->kinds[i] == TextInputs::Kind::Unencodable) {
          outcome = Outcome::Invalid;  // its reason is with the inputs
        } else if (!(*process)(inputs->texts[i], block.sink, reason)) {
          outcome = Outcome::Invalid;
          block.invalid.emplace_back(i, std::move(reason));
          lower_to(first_invalid, i);
        }
        block.outcomes.push_back(outcome);
        block.ends.push_back(block.sink.size());
      }
      return true;
    }
  };

  const std::size_t n = inputs.size();
  std::vector<Block> blocks;
  Work work;
  work.inputs = &inputs;
  work.process = &process;
  work.blocks = &blocks;
  work.first_only = first_only;
  work.cancelled = &cancelled;
  std::size_t invalid = inputs.unencodable.size();
  std::size_t first = SIZE_MAX;
  std::string reason;
  for (const auto& [index, text] : inputs.unencodable) {
    lower_to(work.first_invalid, index);
    if (index < first) first = index, reason = text;
  }

  PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
  if (list == nullptr) return nullptr;
  // A block's texts into their places of the list (lock held); false with
  // the exception set when a str cannot be made or a signal handler raised
  // (looked at every few megabytes: results can be large).
  std::size_t unchecked_bytes = 0;
  auto convert = [&](std::size_t b) {
    Block& block = blocks[b];
    std::size_t start = 0;
    const std::size_t base = b * work.block_size;
    for (std::size_t j = 0; j < block.outcomes.size(); ++j) {
      PyObject* item;
      if (block.outcomes[j] == Outcome::Written) {
        item = new_str(block.sink.data() + start, block.ends[j] - start);
        if (item == nullptr) return false;
        unchecked_bytes += block.ends[j] - start;
        if (unchecked_bytes > (std::size_t{4} << 20)) {
          unchecked_bytes = 0;
          if (PyErr_CheckSignals() != 0) {
            Py_DECREF(item);
            return false;
          }
        }
      } else {
        item = Py_None;
        Py_INCREF(item);
      }
      PyList_SetItem(list, static_cast<Py_ssize_t>(base + j), item);
      start = block.ends[j];
    }
    invalid += block.invalid.size();
    for (auto& [index, text] : block.invalid) {
      if (index < first) first = index, reason = std::move(text);
    }
    block = Block();  // released as soon as it is converted
    return true;
  };

  bool stopped = false;  // a signal handler raised, or a str could not be made
  // While the lock is being retaken: during the interpreter's finalization
  // that ends this (daemon) thread by forced unwinding, which must go
  // through without the lock being retaken again.
  bool retaking = false;
  PyThreadState* state = PyEval_SaveThread();
  try {
    // Enough blocks for the pool to share out unequal texts, few enough that
    // a sink holds many small texts.
    const std::size_t threads = pool::current_num_threads();
    work.block_size = std::clamp<std::size_t>(n / (8 * threads), 1, 256);
    blocks.resize((n + work.block_size - 1) / work.block_size);
    // At least two pieces, so that even one text runs on a worker and this
    // thread stays free to convert and to answer signals.
    pool::BackgroundBatch batch(std::max<std::size_t>(blocks.size(), 2), &Work::piece, &work);
    std::size_t converted = 0;
    while (converted < blocks.size()) {
      std::vector<std::size_t> taken;
      {
        std::unique_lock<std::mutex> lock(work.mutex);
        // Short enough to answer Ctrl-C well within 0.2 s.
        work.finished_one.wait_for(lock, std::chrono::milliseconds(20), [&] { return !work.finished.empty(); });
        taken.swap(work.finished);
      }
      retaking = true;
      PyEval_RestoreThread(state);
      retaking = false;
      bool ok = true;
      for (std::size_t b : taken) {
        if (!(ok = convert(b))) break;
        ++converted;
      }
      ok = ok && PyErr_CheckSignals() == 0;
      state = PyEval_SaveThread();
      if (!ok) {
        stopped = true;
        break;
      }
      if (taken.empty() && batch.wait_for(std::chrono::nanoseconds(0))) {
        // Every piece has ended; unless more blocks came meanwhile, one
        // failed and wait() rethrows its failure.
        const std::lock_guard<std::mutex> lock(work.mutex);
        if (work.finished.empty()) break;
      }
    }
    if (stopped) {
      cancelled.store(true, std::memory_order_relaxed);
      try {
        batch.wait();
      } catch (...) {
        // The interruption is what the caller reports.
      }
    } else {
      batch.wait();
    }
  } catch (...) {
    if (!retaking) PyEval_RestoreThread(state);
    raise_native_failure();  // lets a thread-ending unwind through
    Py_DECREF(list);
    return nullptr;
  }
  PyEval_RestoreThread(state);
  if (stopped) {
    Py_DECREF(list);
    return nullptr;
  }
  if (first_only && invalid > 0) {
    Py_DECREF(list);
    list = nullptr;
  }
  return text_list_result(list, invalid, first, invalid > 0 ? &reason : nullptr);
}

}  // namespace quillmere::tools
