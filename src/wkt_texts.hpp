// The WKT pipeline's last steps: read polygons to a Python list of str.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "geometry/geometry.hpp"
#include "python_api.hpp"
#include "python_call.hpp"

namespace quillmere::python {

// Smooths, simplifies and writes every polygon on the pool, and builds the
// list of str on the calling thread as the texts come: the workers hand over
// blocks of written texts, and the calling thread (which holds the
// interpreter lock throughout) turns each block into str objects while the
// workers go on with the next ones. One batch does both steps for each
// polygon, so a polygon is written while its simplified points are still in
// the cache, and each is released by the worker that wrote it. `inputs` are
// the texts the polygons were read from (for sizing the buffers: only their
// sizes are read). While no block is ready, the calling thread releases the
// call's temporaries, which nothing reads any more. Returns a new list, or
// null with a Python exception set; a stop (only a failed allocation can
// happen here) is thrown after every worker has finished.
PyObject* wkt_text_list(std::vector<Polygon> polygons, std::uint64_t smoothing_iterations, double tolerance,
                        std::span<const std::string_view> inputs, CallTemporaries& spent);

}  // namespace quillmere::python
