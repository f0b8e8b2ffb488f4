#include "arguments.hpp"

#include <string>

#include "ascii_str.hpp"

namespace quillmere::python {

namespace {

// Owned reference released at scope end.
struct Ref {
  PyObject* p;
  explicit Ref(PyObject* object) : p(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p); }
};

std::string function_label(const FunctionDescription& description) {
  return std::string(description.func_name) + "()";
}

void set_type_error(const std::string& message) { PyErr_SetString(PyExc_TypeError, message.c_str()); }

// str() of an object as UTF-8; empty when it cannot be had.
std::string str_of(PyObject* object) {
  Ref text(PyObject_Str(object));
  if (text.p == nullptr) {
    PyErr_Clear();
    return {};
  }
  Ref bytes(PyUnicode_AsUTF8String(text.p));
  if (bytes.p == nullptr) {
    PyErr_Clear();
    return {};
  }
  return std::string(PyBytes_AsString(bytes.p), static_cast<std::size_t>(PyBytes_Size(bytes.p)));
}

std::string type_qualname(PyObject* object) {
  Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
  if (name.p != nullptr && PyUnicode_Check(name.p)) {
    Ref bytes(PyUnicode_AsUTF8String(name.p));
    if (bytes.p != nullptr) {
      return std::string(PyBytes_AsString(bytes.p), static_cast<std::size_t>(PyBytes_Size(bytes.p)));
    }
  }
  PyErr_Clear();
  return "<failed to extract type name>";
}

void set_downcast_error(PyObject* object, const char* target) {
  set_type_error("'" + type_qualname(object) + "' object cannot be converted to '" + target + "'");
}

// Only an exact TypeError gets the parameter prefix; its cause is carried over.
void argument_extraction_error(const char* name) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, traceback);
    return;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  std::string message = std::string("argument '") + name + "': " + str_of(value);
  PyObject* replacement = PyObject_CallFunction(PyExc_TypeError, "s#", message.data(),
                                                static_cast<Py_ssize_t>(message.size()));
  if (replacement == nullptr) {
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return;
  }
  PyObject* cause = value != nullptr ? PyException_GetCause(value) : nullptr;  // new reference or null
  if (cause != nullptr) PyException_SetCause(replacement, cause);                // steals cause
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  Py_INCREF(PyExc_TypeError);
  PyErr_Restore(PyExc_TypeError, replacement, nullptr);
}

bool fail(const char* name) {
  argument_extraction_error(name);
  return false;
}

// UTF-8 bytes of a str, kept alive by the call; the view points into them:
// an ASCII str's own characters, else an encoded bytes copy (lone
// surrogates raise as before).
bool encode_utf8(PyObject* text, CallTemporaries& temporaries, std::string_view& out) {
  if (ascii_view(text, out)) {
    Py_INCREF(text);  // a sequence may hand out objects that it does not keep
    temporaries.keep(text);
    return true;
  }
  PyObject* bytes = PyUnicode_AsUTF8String(text);
  if (bytes == nullptr) return false;
  temporaries.keep(bytes);
  out = std::string_view(PyBytes_AsString(bytes), static_cast<std::size_t>(PyBytes_Size(bytes)));
  return true;
}

// The parameter index of a keyword, or -1 when it names none.
int keyword_index(const FunctionDescription& description, PyObject* key) {
  if (!PyUnicode_Check(key)) return -1;
  Ref bytes(PyUnicode_AsUTF8String(key));
  if (bytes.p == nullptr) {
    PyErr_Clear();
    return -1;
  }
  std::string_view text(PyBytes_AsString(bytes.p), static_cast<std::size_t>(PyBytes_Size(bytes.p)));
  for (int i = 0; i < 3; ++i) {
    if (text == description.positional_parameter_names[i]) return i;
  }
  return -1;
}

}  // namespace

bool bind_arguments(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                    ArgumentSlots& slots) {
  slots = {nullptr, nullptr, nullptr};
  const Py_ssize_t n = PyTuple_Size(args);
  if (n < 0) return false;
  for (Py_ssize_t i = 0; i < n && i < 3; ++i) slots[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);
  if (n > 3) {
    set_type_error(function_label(description) + " takes 3 positional arguments but " + std::to_string(n) +
                   " were given");
    return false;
  }
  if (kwargs != nullptr) {
    PyObject *key, *value;
    Py_ssize_t position = 0;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      const int index = keyword_index(description, key);
      if (index < 0) {
        set_type_error(function_label(description) + " got an unexpected keyword argument '" + str_of(key) + "'");
        return false;
      }
      if (slots[static_cast<std::size_t>(index)] != nullptr) {
        set_type_error(function_label(description) + " got multiple values for argument '" + str_of(key) + "'");
        return false;
      }
      slots[static_cast<std::size_t>(index)] = value;
    }
  }
  if (n < 3) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < 3; ++i) {
      if (slots[i] == nullptr) missing.push_back(description.positional_parameter_names[i]);
    }
    if (!missing.empty()) {
      std::string list;
      for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) list += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        list += std::string("'") + missing[i] + "'";
      }
      set_type_error(function_label(description) + " missing " + std::to_string(missing.size()) +
                     " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " + list);
      return false;
    }
  }
  return true;
}

bool extract_str_sequence(PyObject* object, const char* name, CallTemporaries& temporaries,
                          std::vector<std::string_view>& out, const ConversionProgress& progress) {
  const int is_str = PyObject_IsInstance(object, reinterpret_cast<PyObject*>(&PyUnicode_Type));
  if (is_str == 1) {
    PyErr_SetString(PyExc_ValueError, "Can't extract `str` to `Vec`");
    return fail(name);
  }
  if (is_str < 0) PyErr_Clear();
  if (!PySequence_Check(object)) {
    set_downcast_error(object, "Sequence");
    return fail(name);
  }
  const Py_ssize_t length = PySequence_Size(object);
  if (length < 0) {
    PyErr_Clear();
  } else {
    out.reserve(static_cast<std::size_t>(length));
  }
  Ref iterator(PyObject_GetIter(object));
  if (iterator.p == nullptr) return fail(name);
  while (true) {
    Ref item(PyIter_Next(iterator.p));
    if (item.p == nullptr) {
      if (PyErr_Occurred()) return fail(name);
      break;
    }
    if (!PyUnicode_Check(item.p)) {
      set_downcast_error(item.p, "PyString");
      return fail(name);
    }
    std::string_view view;
    if (!encode_utf8(item.p, temporaries, view)) return fail(name);
    out.push_back(view);
    if (progress.report != nullptr && out.size() % progress.every == 0) progress.report(progress.context, out);
  }
  return true;
}

bool extract_str(PyObject* object, const char* name, CallTemporaries& temporaries, std::string_view& out) {
  if (!PyUnicode_Check(object)) {
    set_downcast_error(object, "PyString");
    return fail(name);
  }
  if (!encode_utf8(object, temporaries, out)) return fail(name);
  return true;
}

bool extract_u64(PyObject* object, const char* name, std::uint64_t& out) {
  Ref index(PyNumber_Index(object));
  if (index.p == nullptr) return fail(name);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.p);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return fail(name);
  out = value;
  return true;
}

bool extract_f64(PyObject* object, const char* name, double& out) {
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return fail(name);
  out = value;
  return true;
}

}  // namespace quillmere::python
