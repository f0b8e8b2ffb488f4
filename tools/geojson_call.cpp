// smooth_simplify_geojsons: GeoJSON texts rewritten in place of their
// polygonal coordinates, every other byte kept, on the pool.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "geojson/geojson.hpp"
#include "geojson/rewrite.hpp"
#include "pipeline/pipelines.hpp"
#include "tools/native.hpp"
#include "tools/text_list.hpp"

namespace quillmere::tools {

namespace {

struct Smoothing {
  std::uint64_t iterations;
  double tolerance;

  static void transform(void* context, Polygon& polygon) {
    const auto& s = *static_cast<const Smoothing*>(context);
    polygon = smooth_simplify_polygon(std::move(polygon), s.iterations, s.tolerance);
  }
};

struct GeoJsonProcess {
  geojson::RewriteOptions options;

  bool operator()(std::string_view text, std::string& sink, std::string& reason) const {
    return geojson::rewrite_geojson(text, options, sink, reason);
  }
};

}  // namespace

PyObject* smooth_simplify_geojsons(PyObject*, PyObject* args) {
  TextListArguments arguments;
  if (!arguments.parse(args)) return nullptr;
  Smoothing smoothing{arguments.iterations, arguments.tolerance};
  GeoJsonProcess process;
  process.options.transform = &Smoothing::transform;
  process.options.context = &smoothing;
  process.options.keep_collapsed = arguments.keep_collapsed;
  std::atomic<bool> cancelled{false};
  process.options.cancelled = &cancelled;
  return run_text_list<std::string>(arguments.inputs, arguments.first_only, process, cancelled);
}

}  // namespace quillmere::tools
