// quillmere_tools._native: module initialization and the helpers its
// functions share.
#include <cxxabi.h>

#include <exception>
#include <new>

#include "common/stop.hpp"
#include "pool/pool.hpp"
#include "tools/native.hpp"

namespace quillmere::tools {

std::string type_name(PyObject* object) {
  PyObject* type = PyObject_Type(object);
  PyObject* name = type ? PyType_GetName(reinterpret_cast<PyTypeObject*>(type)) : nullptr;
  Py_XDECREF(type);
  std::string out = "?";
  if (name != nullptr) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name, &size);
    if (text != nullptr) out.assign(text, static_cast<std::size_t>(size));
    Py_DECREF(name);
  }
  PyErr_Clear();
  return out;
}

bool read_iterations(PyObject* object, std::uint64_t& out) {
  if (!PyLong_Check(object)) {
    PyErr_Format(PyExc_TypeError, "iterations must be an int, not %s", type_name(object).c_str());
    return false;
  }
  int overflow = 0;
  long long signed_value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if ((overflow == 0 && signed_value < 0) || overflow < 0) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "iterations must be >= 0");
    return false;
  }
  unsigned long long value = PyLong_AsUnsignedLongLong(object);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    PyErr_SetString(PyExc_OverflowError, "iterations must be < 2**64");
    return false;
  }
  out = value;
  return true;
}

void raise_native_failure() {
  try {
    throw;
  } catch (abi::__forced_unwind&) {
    throw;  // the thread is ending (interpreter finalization)
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const Stop& stop) {
    PyErr_SetString(PyExc_RuntimeError, stop.message().c_str());
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_RuntimeError, error.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown native failure");
  }
}

PyObject* num_threads(PyObject*, PyObject*) {
  try {
    return PyLong_FromSize_t(pool::current_num_threads());
  } catch (...) {
    raise_native_failure();
    return nullptr;
  }
}

namespace {

PyMethodDef methods[] = {
    {"num_threads", num_threads, METH_NOARGS, "The worker pool's thread count (starts the pool)."},
    {"smooth_simplify_ragged", smooth_simplify_ragged, METH_VARARGS,
     "smooth_simplify_ragged(geometry_type, coords, offsets, iterations, tolerance, keep_collapsed)"},
    {"smooth_simplify_wkts", smooth_simplify_wkts, METH_VARARGS,
     "smooth_simplify_wkts(name, texts, iterations, tolerance, keep_collapsed, first_only)"},
    {"smooth_simplify_geojsons", smooth_simplify_geojsons, METH_VARARGS,
     "smooth_simplify_geojsons(name, texts, iterations, tolerance, keep_collapsed, first_only)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def{PyModuleDef_HEAD_INIT, "quillmere_tools._native",
                       "Native part of quillmere_tools; use the package's public functions.",
                       0, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

}  // namespace quillmere::tools

PyMODINIT_FUNC PyInit__native() { return PyModule_Create2(&quillmere::tools::module_def, 3); }
