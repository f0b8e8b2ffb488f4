// The FeatureCollection call's result built from blocks written in parallel.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "python_api.hpp"

namespace quillmere::python {

// The call's str by the parallel path, or null with a Python exception set;
// absent when that path was not taken and the serial path must decide. The
// blocks' texts become str objects on the calling thread as they come,
// while the workers go on, and are joined once all have come.
std::optional<PyObject*> feature_collection_text(std::string_view geojson, std::uint64_t smoothing_iterations,
                                                 double tolerance);

}  // namespace quillmere::python
