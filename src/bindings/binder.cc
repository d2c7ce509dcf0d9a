#include "bindings/binder.h"

#include <cstring>
#include <limits>

namespace qm::py {

namespace {

std::string_view short_name(const char* qualified) {
  std::string_view s(qualified);
  size_t dot = s.rfind('.');
  return dot == std::string_view::npos ? s : s.substr(dot + 1);
}

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
std::string name_list(const std::vector<std::string_view>& names) {
  std::string s;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) s += ",";
      s += (i + 1 == names.size()) ? " and " : " ";
    }
    s += "'";
    s += names[i];
    s += "'";
  }
  return s;
}

void raise_type_error(const std::string& msg) { PyErr_SetString(PyExc_TypeError, msg.c_str()); }

// Index of the parameter called `name` at or after `from`, or -1.
int find_param(const Signature& sig, PyObject* name, size_t from) {
  for (size_t i = from; i < sig.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, sig.params[i]) == 0) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

std::string_view type_name(PyTypeObject* t) { return short_name(t->tp_name); }
std::string_view type_name(PyObject* o) { return type_name(Py_TYPE(o)); }

void raise_cast_error(PyObject* o, const char* expected) {
  std::string msg = "'";
  msg += type_name(o);
  msg += "' object cannot be cast as '";
  msg += expected;
  msg += "'";
  raise_type_error(msg);
}

bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, const Keywords& kw,
          PyObject** out, PyRef* kwargs) {
  const size_t n = sig.size();
  const bool no_keywords = kw.names == nullptr && (kw.dict == nullptr || PyDict_GET_SIZE(kw.dict) == 0);
  if (no_keywords && nargs >= sig.required && static_cast<size_t>(nargs) <= n) {
    // The common call: positionals only, count in range.
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<Py_ssize_t>(i) < nargs ? args[i] : nullptr;
    return true;
  }
  for (size_t i = 0; i < n; ++i) out[i] = nullptr;
  const size_t npos = std::min(static_cast<size_t>(nargs), n);
  for (size_t i = 0; i < npos; ++i) out[i] = args[i];

  // The callable's name as messages write it; built only on error paths.
  auto callable_name = [&] { return std::string(sig.name) + "()"; };
  std::vector<std::string_view> posonly_as_kw;

  auto take_keyword = [&](PyObject* name, PyObject* value) -> bool {
    int j = find_param(sig, name, static_cast<size_t>(sig.posonly));
    if (j < 0) {
      if (sig.var_kwargs) {
        if (kwargs != nullptr) {
          if (!*kwargs) {
            *kwargs = PyRef::steal(PyDict_New());
            if (!*kwargs) return false;
          }
          if (PyDict_SetItem(kwargs->get(), name, value) < 0) return false;
        }
        return true;
      }
      int p = sig.posonly > 0 ? find_param(sig, name, 0) : -1;
      if (p >= 0 && p < sig.posonly) {
        posonly_as_kw.push_back(sig.params[p]);
        return true;
      }
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, name);
      return false;
    }
    if (out[j] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.name,
                   sig.params[j]);
      return false;
    }
    out[j] = value;
    return true;
  };

  if (kw.names != nullptr) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kw.names);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!take_keyword(PyTuple_GET_ITEM(kw.names, k), kw.values[k])) return false;
    }
  } else if (kw.dict != nullptr) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kw.dict, &pos, &key, &value)) {
      if (!take_keyword(key, value)) return false;
    }
  }
  if (!posonly_as_kw.empty()) {
    raise_type_error(callable_name() + " got some positional-only arguments passed as keyword arguments: " +
                     name_list(posonly_as_kw));
    return false;
  }

  if (static_cast<size_t>(nargs) > n) {
    std::string msg = callable_name() + " takes ";
    if (static_cast<size_t>(sig.required) == n) {
      msg += std::to_string(n);
    } else {
      msg += "from " + std::to_string(sig.required) + " to " + std::to_string(n);
    }
    msg += " positional arguments but " + std::to_string(nargs) + (nargs == 1 ? " was" : " were") +
           " given";
    raise_type_error(msg);
    return false;
  }

  std::vector<std::string_view> missing;
  for (int i = 0; i < sig.required; ++i) {
    if (out[i] == nullptr) missing.push_back(sig.params[i]);
  }
  if (!missing.empty()) {
    raise_type_error(callable_name() + " missing " + std::to_string(missing.size()) +
                     " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                     name_list(missing));
    return false;
  }
  return true;
}

std::string text_signature(const Signature& sig, bool method, const char* doc) {
  std::string s(short_name(sig.name));
  s += "(";
  bool first = true;
  auto sep = [&] {
    if (!first) s += ", ";
    first = false;
  };
  if (method) {
    sep();
    s += "$self";
  }
  for (size_t i = 0; i < sig.size(); ++i) {
    sep();
    s += sig.params[i];
    if (static_cast<int>(i) >= sig.required) {
      size_t d = i - static_cast<size_t>(sig.required);
      s += "=";
      s += d < sig.defaults.size() ? sig.defaults[d] : "None";
    }
    if (sig.posonly > 0 && static_cast<int>(i) + 1 == sig.posonly) s += ", /";
  }
  if (sig.var_kwargs) {
    sep();
    s += "**kwargs";
  }
  s += ")\n--\n\n";
  if (doc != nullptr) s += doc;
  return s;
}

namespace {

// The pending exception as one normalised object (a new reference), cleared
// from the thread; and the way back, without chaining it to anything.
PyObject* take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
#endif
}

void restore_exception(PyObject* exc) {  // steals exc
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  PyErr_Restore(PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(exc))).release(), exc, nullptr);
#endif
}

}  // namespace

void prefix_argument_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyRef original = PyRef::steal(take_exception());
  if (!original) return;
  PyRef text = PyRef::steal(PyObject_Str(original.get()));
  if (!text) return;
  PyRef msg = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!msg) return;
  PyRef err = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, msg.get()));
  if (!err) return;
  // The new error takes over the conversion error's own cause; the
  // conversion error itself is not chained. Like any error raised here, its
  // context is the exception being handled, if any.
  PyObject* cause = PyException_GetCause(original.get());  // new reference or null
  if (cause != nullptr) PyException_SetCause(err.get(), cause);  // steals
  PyObject* handled = PyErr_GetHandledException();  // new reference or null
  if (handled != nullptr && handled != Py_None) {
    PyException_SetContext(err.get(), handled);  // steals
  } else {
    Py_XDECREF(handled);
  }
  restore_exception(err.release());
}

// ---- converters ---------------------------------------------------------------

bool convert(PyObject* o, std::string_view* out) {
  if (!PyUnicode_Check(o)) {
    raise_cast_error(o, "str");
    return false;
  }
  Py_ssize_t n;
  const char* s = PyUnicode_AsUTF8AndSize(o, &n);
  if (s == nullptr) return false;
  *out = std::string_view(s, static_cast<size_t>(n));
  return true;
}

bool convert(PyObject* o, std::string* out) {
  std::string_view v;
  if (!convert(o, &v)) return false;
  out->assign(v);
  return true;
}

namespace {

void raise_range_error() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
}

}  // namespace

bool convert(PyObject* o, Row* out) {
  PyRef idx = PyRef::steal(PyNumber_Index(o));
  if (!idx) return false;
  unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  if (v > std::numeric_limits<uint32_t>::max()) {
    raise_range_error();
    return false;
  }
  out->v = static_cast<uint32_t>(v);
  return true;
}

bool convert(PyObject* o, Col* out) {
  PyRef idx = PyRef::steal(PyNumber_Index(o));
  if (!idx) return false;
  long long v = PyLong_AsLongLong(idx.get());
  if (v == -1 && PyErr_Occurred()) return false;
  if (v < 0 || v > std::numeric_limits<uint16_t>::max()) {
    raise_range_error();
    return false;
  }
  out->v = static_cast<uint16_t>(v);
  return true;
}

bool convert(PyObject* o, Int32* out) {
  PyRef idx = PyRef::steal(PyNumber_Index(o));
  if (!idx) return false;
  long v = PyLong_AsLong(idx.get());
  if (v == -1 && PyErr_Occurred()) return false;
  // A C long has 32 bits on the target this API is defined for: keep its range.
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C long");
    return false;
  }
  out->v = static_cast<int32_t>(v);
  return true;
}

bool convert(PyObject* o, double* out) {
  double d = PyFloat_AsDouble(o);
  if (d == -1.0 && PyErr_Occurred()) return false;
  *out = d;
  return true;
}

bool convert(PyObject* o, bool* out) {
  if (PyBool_Check(o)) {
    *out = o == Py_True;
    return true;
  }
  const char* tn = Py_TYPE(o)->tp_name;
  if (std::strcmp(tn, "numpy.bool_") == 0 || std::strcmp(tn, "numpy.bool") == 0) {
    int t = PyObject_IsTrue(o);
    if (t < 0) return false;
    *out = t != 0;
    return true;
  }
  raise_cast_error(o, "bool");
  return false;
}

bool convert(PyObject* o, List* out) {
  if (!PyList_Check(o)) {
    raise_cast_error(o, "list");
    return false;
  }
  out->obj = o;
  return true;
}

namespace {

template <class Item>
bool convert_sequence(PyObject* o, std::vector<Item>* out) {
  if (PyUnicode_Check(o)) {
    raise_type_error("'str' object cannot be taken as a sequence of items; pass a list or a tuple");
    return false;
  }
  if (!PySequence_Check(o)) {
    raise_cast_error(o, "Sequence");
    return false;
  }
  out->clear();
  Py_ssize_t hint = PyObject_LengthHint(o, 0);
  if (hint < 0) {
    PyErr_Clear();  // only a size hint
  } else {
    out->reserve(static_cast<size_t>(hint));
  }
  PyRef it = PyRef::steal(PyObject_GetIter(o));
  if (!it) return false;
  while (PyRef item = PyRef::steal(PyIter_Next(it.get()))) {
    Item v;
    if (!convert(item.get(), &v)) return false;
    out->push_back(std::move(v));
  }
  return !PyErr_Occurred();
}

}  // namespace

bool convert(PyObject* o, std::vector<Row>* out) { return convert_sequence<Row>(o, out); }
bool convert(PyObject* o, std::vector<Col>* out) { return convert_sequence<Col>(o, out); }
bool convert(PyObject* o, std::vector<std::string>* out) {
  return convert_sequence<std::string>(o, out);
}

}  // namespace qm::py
