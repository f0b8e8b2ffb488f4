#include "tools/text_list.hpp"

#include "src/ascii_str.hpp"

namespace quillmere::tools {

namespace {

// str() of the exception being raised, which is then cleared.
std::string take_exception_text() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  std::string text = "unreadable text";
  PyObject* str = value != nullptr ? PyObject_Str(value) : nullptr;
  if (str != nullptr) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data != nullptr) text.assign(data, static_cast<std::size_t>(size));
    Py_DECREF(str);
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  PyErr_Clear();
  return text;
}

}  // namespace

bool TextInputs::read(PyObject* tuple, const char* name) {
  Py_INCREF(tuple);
  Py_XDECREF(tuple_);
  tuple_ = tuple;
  for (PyObject* bytes : encoded_) Py_DECREF(bytes);
  encoded_.clear();
  const Py_ssize_t n = PyTuple_Size(tuple);
  if (n < 0) return false;
  texts.assign(static_cast<std::size_t>(n), std::string_view());
  kinds.assign(static_cast<std::size_t>(n), Kind::Text);
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyTuple_GetItem(tuple, i);
    if (item == nullptr) return false;
    const auto index = static_cast<std::size_t>(i);
    if (item == Py_None) {
      kinds[index] = Kind::Missing;
      continue;
    }
    if (!PyUnicode_Check(item)) {
      PyErr_Format(PyExc_TypeError, "%s must hold str or None; item %zd is %s", name, i, type_name(item).c_str());
      return false;
    }
    if (python::ascii_view(item, texts[index])) continue;
    PyObject* bytes = PyUnicode_AsUTF8String(item);
    if (bytes == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
      kinds[index] = Kind::Unencodable;
      unencodable.emplace_back(index, "not valid text: " + take_exception_text());
      continue;
    }
    try {
      encoded_.push_back(bytes);
    } catch (...) {
      Py_DECREF(bytes);
      PyErr_NoMemory();
      return false;
    }
    texts[index] = std::string_view(PyBytes_AsString(bytes), static_cast<std::size_t>(PyBytes_Size(bytes)));
  }
  return true;
}

PyObject* new_str(const char* data, std::size_t size) {
  return PyUnicode_FromStringAndSize(data, static_cast<Py_ssize_t>(size));
}

PyObject* text_list_result(PyObject* list, std::size_t invalid, std::size_t first, const std::string* reason) {
  if (list == nullptr) {
    list = Py_None;
    Py_INCREF(list);
  }
  PyObject* reason_object = Py_None;
  if (reason != nullptr) {
    reason_object = PyUnicode_DecodeUTF8(reason->data(), static_cast<Py_ssize_t>(reason->size()), "replace");
    if (reason_object == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
  } else {
    Py_INCREF(reason_object);
  }
  const Py_ssize_t first_index = invalid > 0 ? static_cast<Py_ssize_t>(first) : -1;
  return Py_BuildValue("(NnnN)", list, static_cast<Py_ssize_t>(invalid), first_index, reason_object);
}

}  // namespace quillmere::tools
