// Per-call bookkeeping of the module surface: temporaries that must outlive the
// pipeline, and the mapping of C++ failures to Python exceptions.
#pragma once

#include <string_view>
#include <vector>

#include "python_api.hpp"

namespace quillmere::python {

// Owns every new reference that argument conversion creates (the strs and
// UTF-8 bytes objects behind the text views) and releases them when the call ends,
// so the views stay valid while worker threads read them.
class CallTemporaries {
 public:
  CallTemporaries() = default;
  CallTemporaries(const CallTemporaries&) = delete;
  CallTemporaries& operator=(const CallTemporaries&) = delete;
  ~CallTemporaries();

  void keep(PyObject* owned) { owned_.push_back(owned); }

  // Releases up to `count` of the temporaries, most recent first, once the
  // caller no longer reads through them; false when none are left.
  bool release_some(std::size_t count);

 private:
  std::vector<PyObject*> owned_;
};

// Sets the current Python exception to PanicException(message). The message
// is UTF-8; undecodable bytes are replaced rather than lost.
void raise_panic(std::string_view message);

// Sets the current Python exception for the C++ exception being handled
// (call only from inside a catch block).
void raise_current_exception();

}  // namespace quillmere::python
