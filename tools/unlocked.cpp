#include "tools/unlocked.hpp"

#include <chrono>

namespace quillmere::tools {

namespace {
// Well inside the 0.2 s in which Ctrl-C must be answered, and long enough
// that retaking the lock costs nothing measurable.
constexpr std::chrono::milliseconds kSlice{20};
}  // namespace

bool Unlocked::signalled() {
  exiting_ = true;  // until the lock is back: the thread may end in there
  PyEval_RestoreThread(state_);
  exiting_ = false;
  bool raised = PyErr_CheckSignals() != 0;
  state_ = PyEval_SaveThread();
  return raised;
}

bool run_interruptible(Unlocked& unlocked, std::size_t n, pool::PieceFn piece, void* context,
                       std::atomic<bool>& cancelled) {
  pool::BackgroundBatch batch(n, piece, context);
  while (!batch.wait_for(kSlice)) {
    if (unlocked.signalled()) {
      cancelled.store(true, std::memory_order_relaxed);
      try {
        batch.wait();
      } catch (...) {
        // The interruption is what the caller reports.
      }
      return false;
    }
  }
  batch.wait();
  return true;
}

}  // namespace quillmere::tools
