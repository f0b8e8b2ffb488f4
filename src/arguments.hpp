// Binding of a call's positional tuple and keyword dictionary to the three
// parameters of an exported function, and conversion of the bound objects.
// Every function returns false with a Python exception set on failure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "python_api.hpp"
#include "python_call.hpp"

namespace quillmere::python {

struct FunctionDescription {
  const char* func_name;
  std::array<const char*, 3> positional_parameter_names;
};

using ArgumentSlots = std::array<PyObject*, 3>;  // borrowed references

bool bind_arguments(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                    ArgumentSlots& slots);

// Told of the views converted so far after every `every` strings, so that
// work on them can begin while the rest are converted.
struct ConversionProgress {
  std::size_t every = 0;
  void (*report)(void* context, std::span<const std::string_view> views) noexcept = nullptr;
  void* context = nullptr;
};

bool extract_str_sequence(PyObject* object, const char* name, CallTemporaries& temporaries,
                          std::vector<std::string_view>& out, const ConversionProgress& progress = {});
bool extract_str(PyObject* object, const char* name, CallTemporaries& temporaries, std::string_view& out);
bool extract_u64(PyObject* object, const char* name, std::uint64_t& out);
bool extract_f64(PyObject* object, const char* name, double& out);

}  // namespace quillmere::python
