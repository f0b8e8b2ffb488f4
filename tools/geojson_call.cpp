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
  Smoothing smoothing{iterations, tolerance};
  GeoJsonProcess process;
  process.options.transform = &Smoothing::transform;
  process.options.context = &smoothing;
  process.options.keep_collapsed = keep_collapsed != 0;
  std::atomic<bool> cancelled{false};
  process.options.cancelled = &cancelled;
  return run_text_list<std::string>(inputs, first_only != 0, process, cancelled);
}

}  // namespace quillmere::tools
