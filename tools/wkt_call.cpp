// smooth_simplify_wkts: POLYGON and MULTIPOLYGON texts read in place,
// smoothed, simplified and written in their own kind on the pool.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "pipeline/pipelines.hpp"
#include "tools/native.hpp"
#include "tools/text_list.hpp"
#include "wkt/polygonal.hpp"

namespace quillmere::tools {

namespace {

struct WktProcess {
  std::uint64_t iterations;
  double tolerance;
  bool keep_collapsed;

  void finish(Polygon& polygon) const {
    polygon = smooth_simplify_polygon(std::move(polygon), iterations, tolerance);
    if (!keep_collapsed) polygon.drop_short_rings(4);
  }

  bool operator()(std::string_view text, wkt::TextSink& sink, std::string& reason) const {
    // Reused by the thread: the member list keeps its room.
    thread_local wkt::Polygonal polygonal;
    if (!wkt::read_polygonal(text, polygonal, reason)) return false;
    if (polygonal.multi) {
      for (Polygon& polygon : polygonal.polygons) finish(polygon);
      if (!keep_collapsed) std::erase_if(polygonal.polygons, [](const Polygon& p) { return p.is_empty(); });
    } else {
      finish(polygonal.polygon);
    }
    wkt::write_polygonal_text(polygonal, sink);
    polygonal.polygon = Polygon();
    polygonal.polygons.clear();
    return true;
  }
};

}  // namespace

PyObject* smooth_simplify_wkts(PyObject*, PyObject* args) {
  const char* name = nullptr;
  PyObject *texts, *iterations_object;
  double tolerance = 0.0;
  int keep_collapsed = 0;
  int first_only = 0;
  if (!PyArg_ParseTuple(args, "sO!Odpp", &name, &PyTuple_Type, &texts, &iterations_object, &tolerance,
                        &keep_collapsed, &first_only)) {
    return nullptr;
  }
  std::uint64_t iterations = 0;
  if (!read_iterations(iterations_object, iterations)) return nullptr;
  TextInputs inputs;
  if (!inputs.read(texts, name)) return nullptr;
  WktProcess process{iterations, tolerance, keep_collapsed != 0};
  std::atomic<bool> cancelled{false};
  return run_text_list<wkt::TextSink>(inputs, first_only != 0, process, cancelled);
}

}  // namespace quillmere::tools
