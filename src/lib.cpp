// The module surface: initialization, the two exported functions, and the two
// pipelines between argument conversion and result objects.
#include <atomic>
#include <span>
#include <string>
#include <utility>

#include "arguments.hpp"
#include "fc_text.hpp"
#include "common/stop.hpp"
#include "geojson/geojson.hpp"
#include "pipeline/pipelines.hpp"
#include "pipeline/wkt_read_ahead.hpp"
#include "pool/pool.hpp"
#include "python_api.hpp"
#include "python_call.hpp"
#include "wkt_texts.hpp"

namespace quillmere::python {

namespace {

// ---- pipelines ---------------------------------------------------------------

// The converted list and the reading of its texts that starts meanwhile.
// The read-ahead is destroyed (waiting for its workers) before the
// temporaries that its text views point into.
struct WktTexts {
  std::vector<std::string_view> views;
  WktReadAhead ahead;
};

PyObject* smooth_and_simplify_polygons_from_wkts_impl(WktTexts& texts, std::uint64_t smoothing_iterations,
                                                      double tolerance, CallTemporaries& temporaries) {
  // Every text is read (most of them already, while the list was being
  // converted) before any polygon is smoothed, so that an unreadable text
  // stops the call whatever the smoothing would do. Then the texts' bytes
  // may go while the results are made.
  std::vector<Polygon> polygons = texts.ahead.finish(texts.views);
  return wkt_text_list(std::move(polygons), smoothing_iterations, tolerance, texts.views, temporaries);
}

PyObject* smooth_and_simplify_polygon_fc_impl(std::string_view geojson, std::uint64_t smoothing_iterations,
                                              double tolerance) {
  if (std::optional<PyObject*> text = feature_collection_text(geojson, smoothing_iterations, tolerance)) return *text;
  std::string text;
  {
    std::optional<std::vector<Polygon>> polygons = read_polygons_from_feature_collection(geojson);
    if (!polygons) throw Stop("Empty or invalid GeoJSON");
    std::vector<Polygon> results = smooth_simplify_polygons(std::move(*polygons), smoothing_iterations, tolerance);
    text = geojson::write_feature_collection(results);
  }
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// ---- exported functions ------------------------------------------------------

const FunctionDescription kWktsDescription{
    "smooth_and_simplify_polygons_from_wkts",
    {"polygon_wkts", "smoothing_iterations", "simplify_tolerance_m"}};
const FunctionDescription kFcDescription{
    "smooth_and_simplify_polygon_fc",
    {"geojson", "smoothing_iterations", "simplify_tolerance_m"}};

// The call wrapper shared by both functions: bind, convert the parameters in
// order (the first with `extract_first`), run the pipeline, and turn every
// C++ failure into a Python exception. The temporaries keep the text views
// alive until the call returns.
template <class First, class ExtractFirst, class Pipeline>
PyObject* call(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
               ExtractFirst extract_first, Pipeline pipeline) {
  CallTemporaries temporaries;
  ArgumentSlots slots;
  if (!bind_arguments(description, args, kwargs, slots)) return nullptr;
  First first{};
  std::uint64_t iterations = 0;
  double tolerance = 0.0;
  if (!extract_first(slots[0], description.positional_parameter_names[0], temporaries, first) ||
      !extract_u64(slots[1], description.positional_parameter_names[1], iterations) ||
      !extract_f64(slots[2], description.positional_parameter_names[2], tolerance)) {
    return nullptr;
  }
  try {
    return pipeline(first, iterations, tolerance, temporaries);
  } catch (...) {
    raise_current_exception();
    return nullptr;
  }
}

bool extract_wkt_texts(PyObject* object, const char* name, CallTemporaries& temporaries, WktTexts& out) {
  const ConversionProgress progress{
      WktReadAhead::chunk_size,
      [](void* ahead, std::span<const std::string_view> views) noexcept {
        static_cast<WktReadAhead*>(ahead)->converted(views);
      },
      &out.ahead};
  return extract_str_sequence(object, name, temporaries, out.views, progress);
}

PyObject* smooth_and_simplify_polygons_from_wkts(PyObject*, PyObject* args, PyObject* kwargs) {
  return call<WktTexts>(kWktsDescription, args, kwargs, extract_wkt_texts,
                        [](WktTexts& texts, std::uint64_t iterations, double tolerance, CallTemporaries& temporaries) {
                          return smooth_and_simplify_polygons_from_wkts_impl(texts, iterations, tolerance,
                                                                             temporaries);
                        });
}

PyObject* smooth_and_simplify_polygon_fc(PyObject*, PyObject* args, PyObject* kwargs) {
  return call<std::string_view>(
      kFcDescription, args, kwargs, extract_str,
      [](std::string_view geojson, std::uint64_t iterations, double tolerance, CallTemporaries&) {
        return smooth_and_simplify_polygon_fc_impl(geojson, iterations, tolerance);
      });
}

// ---- module ----------------------------------------------------------------

// Kept for the life of the process: the function objects point at them.
PyMethodDef fc_method{"smooth_and_simplify_polygon_fc",
                      reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(smooth_and_simplify_polygon_fc)),
                      METH_VARARGS | METH_KEYWORDS, ""};
PyMethodDef wkts_method{
    "smooth_and_simplify_polygons_from_wkts",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(smooth_and_simplify_polygons_from_wkts)),
    METH_VARARGS | METH_KEYWORDS, ""};

PyModuleDef module_def{PyModuleDef_HEAD_INIT, "quillmere", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

std::atomic<bool> initialized{false};

// Adds the function to the module and its name to __all__.
bool add_function(PyObject* module, PyMethodDef* method) {
  const char* module_name = PyModule_GetName(module);
  if (module_name == nullptr) return false;
  PyObject* name_object = PyUnicode_FromString(module_name);
  if (name_object == nullptr) return false;
  PyObject* function = PyCFunction_NewEx(method, module, name_object);
  Py_DECREF(name_object);
  if (function == nullptr) return false;
  PyObject* name = PyObject_GetAttrString(function, "__name__");
  if (name == nullptr) {
    Py_DECREF(function);
    return false;
  }
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    all = PyList_New(0);
    if (all != nullptr && PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_CLEAR(all);
    }
  }
  bool ok = all != nullptr && PyList_Check(all) && PyList_Append(all, name) == 0 &&
            PyObject_SetAttr(module, name, function) == 0;
  if (all != nullptr && !PyList_Check(all)) PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
  Py_XDECREF(all);
  Py_DECREF(name);
  Py_DECREF(function);
  return ok;
}

}  // namespace

}  // namespace quillmere::python

PyMODINIT_FUNC PyInit_quillmere() {
  using namespace quillmere::python;
  PyObject* module = PyModule_Create2(&module_def, 3);
  if (module == nullptr) return nullptr;
  if (initialized.exchange(true)) {
    Py_DECREF(module);
    PyErr_SetString(PyExc_ImportError, "PyO3 modules may only be initialized once per interpreter process");
    return nullptr;
  }
  if (!add_function(module, &fc_method) || !add_function(module, &wkts_method)) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
