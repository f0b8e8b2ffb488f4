// The WKT pipeline's last step: result polygons to a Python list of str.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "geometry/geometry.hpp"
#include "python_api.hpp"
#include "python_call.hpp"

namespace quillmere::python {

// Writes the text of every polygon on the pool and builds the list of str on
// the calling thread as the texts come: the workers hand over blocks of
// written texts, and the calling thread (which holds the interpreter lock
// throughout) turns each block into str objects while the workers write the
// next ones. `inputs` are the texts the polygons were read from (for sizing
// the buffers: only their sizes are read). While no block is ready, the
// calling thread releases the call's temporaries, which nothing reads any
// more. Returns a new list, or null with a Python exception set; a stop of
// the writing is thrown, after every worker has finished.
PyObject* wkt_text_list(std::vector<Polygon> polygons, std::span<const std::string_view> inputs,
                        CallTemporaries& spent);

}  // namespace quillmere::python
