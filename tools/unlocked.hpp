// Native work with the interpreter lock released, waited for in slices
// short enough to answer Ctrl-C.
#pragma once

#include <atomic>
#include <cstddef>

#include "pool/pool.hpp"
#include "src/python_api.hpp"

namespace quillmere::tools {

// Releases the interpreter lock for its lifetime.
class Unlocked {
 public:
  Unlocked() noexcept : state_(PyEval_SaveThread()) {}
  // Retaking the lock while the interpreter finalizes ends this thread by
  // forced unwinding, which must be let through.
  ~Unlocked() noexcept(false) {
    if (!exiting_) PyEval_RestoreThread(state_);
  }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

  // Retakes the lock briefly so the interpreter runs its signal handlers;
  // true when one raised (its exception is then set).
  bool signalled();

 private:
  PyThreadState* state_;
  bool exiting_ = false;
};

// Runs [0, n) on the pool while the lock is released. When a signal
// handler raises meanwhile, `cancelled` is set (pieces check it between
// elements and stop), every piece is waited for, and false is returned with
// the exception set. A piece's failure is rethrown once all have ended.
bool run_interruptible(Unlocked& unlocked, std::size_t n, pool::PieceFn piece, void* context,
                       std::atomic<bool>& cancelled);

}  // namespace quillmere::tools
