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
  TextListArguments arguments;
  if (!arguments.parse(args)) return nullptr;
  WktProcess process{arguments.iterations, arguments.tolerance, arguments.keep_collapsed};
  std::atomic<bool> cancelled{false};
  return run_text_list<wkt::TextSink>(arguments.inputs, arguments.first_only, process, cancelled);
}

}  // namespace quillmere::tools
