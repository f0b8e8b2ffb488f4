// Reading a str's UTF-8 in place when the interpreter already holds it.
#pragma once

#include <string_view>

#include "src/python_api.hpp"

namespace quillmere::python {

// Whether a str holds only ASCII characters: str.isascii reads a flag of the
// object, which the limited API does not expose directly. The method of str
// itself is called, so a subclass cannot answer for it. Without an answer
// the text is taken as non-ASCII, which is only slower.
inline bool is_ascii_str(PyObject* text) {
  static PyObject* const method = [] {
    PyObject* found = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), "isascii");
    if (found == nullptr) PyErr_Clear();
    return found;
  }();
  if (method == nullptr) return false;
  PyObject* answer = PyObject_CallFunctionObjArgs(method, text, nullptr);
  if (answer == nullptr) {
    PyErr_Clear();
    return false;
  }
  const bool ascii = answer == Py_True;
  Py_DECREF(answer);
  return ascii;
}

// The characters of an ASCII str, which are its UTF-8: the interpreter hands
// them out without copying or caching anything. Valid while the str lives.
// False (no exception set) for any other str, whose UTF-8 the caller
// encodes into a copy of its own, so that the str does not keep a cached
// UTF-8 form for good.
inline bool ascii_view(PyObject* text, std::string_view& out) {
  if (!is_ascii_str(text)) return false;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return false;
  }
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

}  // namespace quillmere::python
