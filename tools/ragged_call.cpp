// smooth_simplify_ragged: polygons read in place from the caller's arrays,
// smoothed and simplified on the pool with the interpreter lock released,
// and written into new arrays of the same layout.
#include <atomic>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/pipelines.hpp"
#include "ragged/ragged.hpp"
#include "tools/native.hpp"
#include "tools/unlocked.hpp"

namespace quillmere::tools {

namespace {

// A buffer held for the call.
struct Buffer {
  Py_buffer view{};
  bool held = false;
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (held) PyBuffer_Release(&view);
  }
};

// The struct-module format letter, without a native or little-endian prefix.
std::string_view format_letter(const Py_buffer& view) {
  std::string_view format = view.format != nullptr ? view.format : "B";
  if (!format.empty() && (format[0] == '@' || format[0] == '=' || format[0] == '<')) format.remove_prefix(1);
  return format;
}

bool get_buffer(PyObject* object, const std::string& name, Buffer& buffer) {
  if (PyObject_GetBuffer(object, &buffer.view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "%s must be a C-contiguous array (an object with the buffer protocol), not %s",
                 name.c_str(), type_name(object).c_str());
    return false;
  }
  buffer.held = true;
  return true;
}

bool read_coords(PyObject* object, Buffer& buffer, ragged::Arrays& arrays) {
  if (!get_buffer(object, "coords", buffer)) return false;
  const Py_buffer& view = buffer.view;
  if (format_letter(view) != "d" || view.itemsize != 8) {
    PyErr_Format(PyExc_ValueError, "coords must hold float64 values, not format '%s'", view.format ? view.format : "B");
    return false;
  }
  if (view.ndim != 2 || view.shape[1] != 2) {
    if (view.ndim == 2) {
      PyErr_Format(PyExc_ValueError, "coords must have shape (n, 2), not (%zd, %zd): only 2-D coordinates are read",
                   view.shape[0], view.shape[1]);
    } else {
      PyErr_Format(PyExc_ValueError, "coords must have shape (n, 2), not %d dimension(s)", view.ndim);
    }
    return false;
  }
  arrays.coords = static_cast<const double*>(view.buf);
  arrays.num_coords = static_cast<std::size_t>(view.shape[0]);
  return true;
}

bool read_offsets(PyObject* sequence, std::vector<Buffer>& buffers, ragged::Arrays& arrays) {
  if (!PyTuple_Check(sequence) && !PyList_Check(sequence)) {
    PyErr_SetString(PyExc_TypeError, "offsets must be a tuple of arrays");
    return false;
  }
  Py_ssize_t count = PySequence_Size(sequence);
  if (count < 0) return false;
  std::size_t expected = arrays.kind == ragged::Kind::Polygon ? 2 : 3;
  if (static_cast<std::size_t>(count) != expected) {
    PyErr_Format(PyExc_ValueError, "offsets must hold %zu arrays for this geometry type, not %zd", expected, count);
    return false;
  }
  buffers = std::vector<Buffer>(expected);
  for (std::size_t level = 0; level < expected; ++level) {
    std::string name = "offsets[" + std::to_string(level) + "]";
    PyObject* item = PySequence_GetItem(sequence, static_cast<Py_ssize_t>(level));
    if (item == nullptr) return false;
    bool ok = get_buffer(item, name, buffers[level]);
    Py_DECREF(item);
    if (!ok) return false;
    const Py_buffer& view = buffers[level].view;
    std::string_view letter = format_letter(view);
    bool integer = letter == "i" || letter == "l" || letter == "q";
    if (!integer || (view.itemsize != 4 && view.itemsize != 8)) {
      PyErr_Format(PyExc_ValueError, "%s must hold int32 or int64 values, not format '%s'", name.c_str(),
                   view.format ? view.format : "B");
      return false;
    }
    if (view.ndim != 1) {
      PyErr_Format(PyExc_ValueError, "%s must be one-dimensional, not %d dimension(s)", name.c_str(), view.ndim);
      return false;
    }
    arrays.offsets.push_back(
        ragged::Offsets{view.buf, static_cast<std::size_t>(view.shape[0]), view.itemsize == 8});
  }
  return true;
}

struct Smoothing {
  const ragged::Arrays* arrays;
  Polygon* results;
  std::uint64_t iterations;
  double tolerance;
  bool keep_collapsed;
  std::atomic<bool>* cancelled;

  static void piece(void* context, std::size_t begin, std::size_t end) {
    auto& s = *static_cast<Smoothing*>(context);
    for (std::size_t p = begin; p < end && !s.cancelled->load(std::memory_order_relaxed); ++p) {
      // Worked on in the storage of the polygon's copy (or of its smoothed
      // copy), which goes back to the allocator for the next polygon; the
      // result, kept until written, is copied into storage of its own size.
      const Polygon worked =
          smooth_simplify_polygon(ragged::read_polygon(*s.arrays, p), s.iterations, s.tolerance);
      s.results[p] = worked;
      if (!s.keep_collapsed) s.results[p].drop_short_rings(4);
    }
  }
};

struct Writing {
  Polygon* results;
  const ragged::Layout* layout;
  double* coords;
  std::int64_t* ring_offsets;
  std::atomic<bool>* cancelled;

  static void piece(void* context, std::size_t begin, std::size_t end) {
    auto& w = *static_cast<Writing*>(context);
    for (std::size_t p = begin; p < end && !w.cancelled->load(std::memory_order_relaxed); ++p) {
      ragged::write_polygon(w.results[p], w.layout->places[p], w.coords, w.ring_offsets);
      w.results[p] = Polygon();  // released where it was used
    }
  }
};

// A new bytearray of `count` elements of `size` bytes, or null with
// MemoryError set.
PyObject* new_array(std::size_t count, std::size_t size) {
  if (count > static_cast<std::size_t>(PY_SSIZE_T_MAX) / size) return PyErr_NoMemory();
  return PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * size));
}

}  // namespace

PyObject* smooth_simplify_ragged(PyObject*, PyObject* args) {
  int kind = 0;
  PyObject *coords_object, *offsets_object, *iterations_object;
  double tolerance = 0.0;
  int keep_collapsed = 0;
  if (!PyArg_ParseTuple(args, "iOOOdp", &kind, &coords_object, &offsets_object, &iterations_object, &tolerance,
                        &keep_collapsed)) {
    return nullptr;
  }
  if (kind != static_cast<int>(ragged::Kind::Polygon) && kind != static_cast<int>(ragged::Kind::MultiPolygon)) {
    PyErr_Format(PyExc_ValueError,
                 "geometry_type must be Polygon (3) or MultiPolygon (6), not %d", kind);
    return nullptr;
  }
  std::uint64_t iterations = 0;
  if (!read_iterations(iterations_object, iterations)) return nullptr;

  ragged::Arrays arrays;
  arrays.kind = static_cast<ragged::Kind>(kind);
  Buffer coords_buffer;
  std::vector<Buffer> offset_buffers;
  if (!read_coords(coords_object, coords_buffer, arrays) || !read_offsets(offsets_object, offset_buffers, arrays)) {
    return nullptr;
  }

  std::atomic<bool> cancelled{false};
  std::vector<Polygon> results;
  ragged::Layout layout;
  std::optional<std::string> problem;
  bool finished = true;
  try {
    Unlocked unlocked;
    problem = ragged::check(arrays);
    if (!problem) {
      results.resize(ragged::polygon_count(arrays));
      Smoothing smoothing{&arrays, results.data(), iterations, tolerance, keep_collapsed != 0, &cancelled};
      finished = run_interruptible(unlocked, results.size(), &Smoothing::piece, &smoothing, cancelled);
      if (finished) layout = ragged::plan_output(arrays, results, keep_collapsed == 0);
    }
  } catch (...) {
    raise_native_failure();
    return nullptr;
  }
  if (!finished) return nullptr;
  if (problem) {
    PyErr_SetString(PyExc_ValueError, problem->c_str());
    return nullptr;
  }

  std::size_t multipolygons = arrays.kind == ragged::Kind::MultiPolygon ? arrays.offsets[2].size : 0;
  PyObject* out_coords = new_array(layout.num_coords, 2 * sizeof(double));
  PyObject* out_rings = out_coords ? new_array(layout.num_rings + 1, sizeof(std::int64_t)) : nullptr;
  PyObject* out_polygons = out_rings ? new_array(layout.num_polygons + 1, sizeof(std::int64_t)) : nullptr;
  PyObject* out_multi = out_polygons && multipolygons ? new_array(multipolygons, sizeof(std::int64_t)) : nullptr;
  auto release = [&] {
    Py_XDECREF(out_coords);
    Py_XDECREF(out_rings);
    Py_XDECREF(out_polygons);
    Py_XDECREF(out_multi);
  };
  if (out_polygons == nullptr || (multipolygons && out_multi == nullptr)) {
    release();
    return nullptr;
  }
  auto* coords = reinterpret_cast<double*>(PyByteArray_AsString(out_coords));
  auto* ring_offsets = reinterpret_cast<std::int64_t*>(PyByteArray_AsString(out_rings));
  auto* polygon_offsets = reinterpret_cast<std::int64_t*>(PyByteArray_AsString(out_polygons));
  auto* multi_offsets = out_multi ? reinterpret_cast<std::int64_t*>(PyByteArray_AsString(out_multi)) : nullptr;
  try {
    Unlocked unlocked;
    ragged::write_outer_offsets(arrays, results, keep_collapsed == 0, polygon_offsets, multi_offsets);
    ring_offsets[layout.num_rings] = static_cast<std::int64_t>(layout.num_coords);
    Writing writing{results.data(), &layout, coords, ring_offsets, &cancelled};
    finished = run_interruptible(unlocked, results.size(), &Writing::piece, &writing, cancelled);
  } catch (...) {
    raise_native_failure();  // first: it lets a thread-ending unwind through
    release();
    return nullptr;
  }
  if (!finished) {
    release();
    return nullptr;
  }
  PyObject* offsets = multipolygons ? PyTuple_Pack(3, out_rings, out_polygons, out_multi)
                                    : PyTuple_Pack(2, out_rings, out_polygons);
  PyObject* result = offsets ? PyTuple_Pack(3, PyTuple_GetItem(args, 0), out_coords, offsets) : nullptr;
  Py_XDECREF(offsets);
  release();
  return result;
}

}  // namespace quillmere::tools
