#include "python_call.hpp"

#include <exception>
#include <new>

#include "common/stop.hpp"

namespace quillmere::python {

namespace {

constexpr const char* kPanicName = "pyo3_runtime.PanicException";
constexpr const char* kPanicDoc =
    "\n"
    "The exception raised when native code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Created on the first stop and kept for the life of the process; only
// touched with the interpreter lock held.
PyObject* panic_exception_type = nullptr;

PyObject* panic_type() {
  if (panic_exception_type == nullptr) {
    panic_exception_type = PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
  }
  return panic_exception_type;
}

}  // namespace

CallTemporaries::~CallTemporaries() {
  for (PyObject* object : owned_) Py_DECREF(object);
}

bool CallTemporaries::release_some(std::size_t count) {
  for (; count > 0 && !owned_.empty(); --count) {
    Py_DECREF(owned_.back());
    owned_.pop_back();
  }
  return !owned_.empty();
}

void raise_panic(std::string_view message) {
  PyObject* type = panic_type();
  if (type == nullptr) return;  // class creation failed; its error is set
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return;
  PyObject* args = PyTuple_Pack(1, text);
  Py_DECREF(text);
  if (args == nullptr) return;
  PyErr_SetObject(type, args);
  Py_DECREF(args);
}

void raise_current_exception() {
  try {
    throw;
  } catch (const Stop& stop) {
    raise_panic(stop.message());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    raise_panic(error.what());
  } catch (...) {
    raise_panic("unknown native failure");
  }
}

}  // namespace quillmere::python
