// Argument binding and conversion, written once for every callable.
//
// Each callable declares one Signature (its qualified name, parameter names,
// how many are required, positional-only parameters, **kwargs); `bind` maps
// the interpreter's fast-call arguments onto it with the interpreter's own
// messages, and the converters below turn each bound object into a C++ value,
// re-raising a TypeError as "argument '<name>': <message>".
//
//   constexpr const char* kParams[] = {"name", "sheet_state"};
//   constexpr const char* kDefaults[] = {"\"visible\""};
//   constexpr Signature kAddSheet{"Book.add_sheet", kParams, 1, kDefaults};
//
// Text signatures for introspection ("add_sheet($self, name,
// sheet_state=\"visible\")") are generated from the same Signature.
#ifndef QUILLMOOR_BINDINGS_BINDER_H_
#define QUILLMOOR_BINDINGS_BINDER_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/pyref.h"

namespace qm::py {

struct Signature {
  const char* name;                         // "Book.add_sheet", "find_cell_by_str", "Book.__new__"
  std::span<const char* const> params;      // parameter names, in order
  int required = 0;                         // the leading `required` params have no default
  std::span<const char* const> defaults{};  // text of each default, for the text signature
  int posonly = 0;                          // the leading `posonly` params are positional-only
  bool var_kwargs = false;                  // unknown keywords are gathered into a dict

  size_t size() const { return params.size(); }
};

// Keyword arguments as (name, value) pairs, borrowed.
struct Keywords {
  PyObject* const* values = nullptr;  // fast call: values follow the positionals
  PyObject* names = nullptr;          // fast call: tuple of names
  PyObject* dict = nullptr;           // tuple/dict call: the keyword dict
};

// Binds positional and keyword arguments to sig. On success out[i] is the
// borrowed object for parameter i, or nullptr when it was not given (only
// possible for parameters with a default), and *kwargs (when sig.var_kwargs
// and kwargs is not null) is a new dict of the gathered keywords. On failure
// sets TypeError with the interpreter's message form and returns false.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, const Keywords& kw,
          PyObject** out, PyRef* kwargs);

// "add_sheet($self, name, sheet_state=\"visible\")\n--\n\n" + doc.
std::string text_signature(const Signature& sig, bool method, const char* doc);

// The bare name of an object's type, as used in messages ('int', 'Sheet').
std::string_view type_name(PyObject* o);
std::string_view type_name(PyTypeObject* t);

// Sets TypeError "'<type>' object cannot be cast as '<expected>'".
void raise_cast_error(PyObject* o, const char* expected);

// Re-raises a pending TypeError as "argument '<name>': <message>" (other
// exception types are left as they are).
void prefix_argument_error(const char* name);

// ---- converters ------------------------------------------------------------
// Each converter reads one Python object into a C++ value, or sets an
// exception (without the argument prefix) and returns false.

// A row: an int (or __index__) from 0 to 4294967295.
struct Row {
  uint32_t v = 0;
};
// A column: an int (or __index__) from 0 to 65535.
struct Col {
  uint16_t v = 0;
};
// A 32-bit signed integer, checked as a 32-bit C long would be.
struct Int32 {
  int32_t v = 0;
};

bool convert(PyObject* o, std::string_view* out);  // str
bool convert(PyObject* o, std::string* out);       // str, copied
bool convert(PyObject* o, Row* out);
bool convert(PyObject* o, Col* out);
bool convert(PyObject* o, Int32* out);
bool convert(PyObject* o, double* out);  // the interpreter's float conversion
bool convert(PyObject* o, bool* out);    // bool (or a NumPy boolean); int refused

// Any object, borrowed.
struct Any {
  PyObject* obj = nullptr;
};
inline bool convert(PyObject* o, Any* out) {
  out->obj = o;
  return true;
}

// A list (or subclass), borrowed.
struct List {
  PyObject* obj = nullptr;
};
bool convert(PyObject* o, List* out);

// The sequence rule for rows, cols and name_list: a str is refused, anything
// else must pass PySequence_Check and is iterated in order.
bool convert(PyObject* o, std::vector<Row>* out);
bool convert(PyObject* o, std::vector<Col>* out);
bool convert(PyObject* o, std::vector<std::string>* out);

// The gathered **kwargs dict (set by the wrapper, not by conversion).
struct KwArgs {
  PyObject* dict = nullptr;
};

// A parameter with a default: nullopt when not given. None is converted like
// any other object.
template <class T>
struct Defaulted {
  std::optional<T> v;
};

// Converts a bound argument (nullptr = not given) into T, prefixing errors.
template <class T>
bool convert_arg(PyObject* o, const char* name, T* out) {
  if (!convert(o, out)) {
    prefix_argument_error(name);
    return false;
  }
  return true;
}

// None or not given -> nullopt.
template <class T>
bool convert_arg(PyObject* o, const char* name, std::optional<T>* out) {
  if (o == nullptr || o == Py_None) {
    out->reset();
    return true;
  }
  T v;
  if (!convert_arg(o, name, &v)) return false;
  *out = std::move(v);
  return true;
}

template <class T>
bool convert_arg(PyObject* o, const char* name, Defaulted<T>* out) {
  if (o == nullptr) {
    out->v.reset();
    return true;
  }
  T v;
  if (!convert_arg(o, name, &v)) return false;
  out->v = std::move(v);
  return true;
}

}  // namespace qm::py

#endif  // QUILLMOOR_BINDINGS_BINDER_H_
