// The functions of quillmere_tools._native and what they share.
#pragma once

#include <cstdint>
#include <string>

#include "src/python_api.hpp"

namespace quillmere::tools {

// The name of an object's type, for messages.
std::string type_name(PyObject* object);

// A pass count: an int from 0 to 2**64 - 1 (TypeError, ValueError or
// OverflowError otherwise).
bool read_iterations(PyObject* object, std::uint64_t& out);

// Sets the Python exception for the C++ exception being handled: MemoryError
// for allocation failures, RuntimeError otherwise.
void raise_native_failure();

PyObject* num_threads(PyObject*, PyObject*);
PyObject* smooth_simplify_ragged(PyObject*, PyObject* args);
PyObject* smooth_simplify_wkts(PyObject*, PyObject* args);
PyObject* smooth_simplify_geojsons(PyObject*, PyObject* args);

}  // namespace quillmere::tools
