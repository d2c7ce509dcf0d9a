// The call wrapper: every entry point the interpreter calls (methods,
// functions, getters, setters, constructors, reprs) runs through one of the
// templates below. They check the receiver, mark the object in use, bind and
// convert the arguments (binder.h), run the body, and translate failures:
// a Status becomes its Python exception, a C++ exception becomes MemoryError
// or the dedicated BaseException subclass; nothing escapes as a C++ exception.
//
//   static PyObject* add_sheet(BookObject* self, std::string_view name,
//                              Defaulted<std::string_view> state);
//   ... {"add_sheet", fastcall(method<BookObject, kAddSheet, add_sheet>), ...}
//
// Bodies return a new reference, or nullptr with an exception set.
#ifndef QUILLMOOR_BINDINGS_WRAPPER_H_
#define QUILLMOOR_BINDINGS_WRAPPER_H_

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#include "bindings/binder.h"
#include "bindings/pyref.h"
#include "core/ref.h"
#include "core/status.h"

namespace qm::py {

// The header shared by every native object: the Python header and the
// per-object use counter (> 0: shared uses, -1: one exclusive use).
struct Object {
  PyObject_HEAD
  std::atomic<int32_t> use;
};

// A native object that is a handle onto one shared record.
template <class Record>
struct Handle : Object {
  Ref<Record> rec;
};

// A parameter that must be an instance of the native class T (or of a
// subclass); the message names the expected class.
template <class T>
struct Instance {
  T* obj = nullptr;
};

template <class T>
bool convert(PyObject* o, Instance<T>* out) {
  if (T::type == nullptr || !PyObject_TypeCheck(o, T::type)) {
    raise_cast_error(o, T::kName);
    return false;
  }
  out->obj = reinterpret_cast<T*>(o);
  return true;
}

// The dedicated exception type for internal failures (derives directly
// from BaseException so `except Exception` does not swallow it).
PyObject* internal_error_type();
// Raises the Python exception for a core Status; returns nullptr.
PyObject* raise_status(const Status& s);
// Raises the dedicated internal failure; returns nullptr.
PyObject* raise_internal(const char* what);

namespace detail {

// Native code running for the interpreter on this thread (nesting depth).
inline thread_local int g_native_depth = 0;

struct DepthGuard {
  DepthGuard() { ++g_native_depth; }
  ~DepthGuard() { --g_native_depth; }
};

[[noreturn]] void abort_escaped(const char* what);

// Runs f and converts any C++ exception into a Python one.
template <class R, class F>
R guarded(R failure, F&& f) noexcept {
  DepthGuard depth;
  try {
    return f();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_internal(e.what());
  } catch (...) {
    raise_internal("unknown C++ exception");
  }
  if (!PyErr_Occurred()) abort_escaped("a failure could not be converted into an exception");
  return failure;
}

enum class Use { kShared, kExclusive };

class UseGuard {
 public:
  UseGuard(Object* o, Use u) : o_(o), u_(u) {
    int32_t cur = o->use.load(std::memory_order_relaxed);
    if (u == Use::kShared) {
      do {
        if (cur < 0) {
          PyErr_SetString(PyExc_RuntimeError, "the object is already in exclusive use");
          return;
        }
      } while (!o->use.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire));
    } else {
      cur = 0;
      if (!o->use.compare_exchange_strong(cur, -1, std::memory_order_acquire)) {
        PyErr_SetString(PyExc_RuntimeError, "the object is already in use");
        return;
      }
    }
    ok_ = true;
  }
  ~UseGuard() {
    if (!ok_) return;
    if (u_ == Use::kShared) {
      o_->use.fetch_sub(1, std::memory_order_release);
    } else {
      o_->use.store(0, std::memory_order_release);
    }
  }
  explicit operator bool() const { return ok_; }

 private:
  Object* o_;
  Use u_;
  bool ok_ = false;
};

template <class Self>
Self* receiver(PyObject* o) {
  if (!PyObject_TypeCheck(o, Self::type)) {
    raise_cast_error(o, Self::kName);
    return nullptr;
  }
  return reinterpret_cast<Self*>(o);
}

// Function traits: the converted parameter types of a body.
template <class F>
struct Body;
template <class R, class S, class... A>
struct Body<R (*)(S*, A...)> {
  using Self = S;
  using Args = std::tuple<std::decay_t<A>...>;
};
template <class... A>
struct FreeBody;
template <class... A>
struct FreeBody<PyObject* (*)(A...)> {
  using Args = std::tuple<std::decay_t<A>...>;
};

template <class T>
inline constexpr bool is_kwargs = std::is_same_v<T, KwArgs>;

template <const Signature& Sig, class Tuple, size_t... I>
bool convert_all(PyObject** bound, PyObject* kwargs, Tuple& t, std::index_sequence<I...>) {
  [[maybe_unused]] auto one = [&](auto& slot, size_t i) -> bool {
    using T = std::decay_t<decltype(slot)>;
    if constexpr (is_kwargs<T>) {
      slot.dict = kwargs;
      return true;
    } else {
      return convert_arg(bound[i], Sig.params[i], &slot);
    }
  };
  return (one(std::get<I>(t), I) && ...);
}

template <const Signature& Sig, class Args>
constexpr size_t bound_count() {
  constexpr size_t n = std::tuple_size_v<Args>;
  if constexpr (n > 0) {
    if constexpr (is_kwargs<std::tuple_element_t<n - 1, Args>>) return n - 1;
  }
  return n;
}

// Binds (args, keywords) to Sig and converts into the tuple Args.
template <const Signature& Sig, class Args>
bool bind_convert(PyObject* const* args, Py_ssize_t nargs, const Keywords& kw, Args& out,
                  PyRef& kwargs) {
  constexpr size_t n = bound_count<Sig, Args>();
  PyObject* bound[n + 1];
  if (!bind(Sig, args, nargs, kw, bound, &kwargs)) return false;
  return convert_all<Sig>(bound, kwargs.get(), out,
                          std::make_index_sequence<std::tuple_size_v<Args>>());
}

}  // namespace detail

using detail::Use;

namespace detail {

// Checks the receiver and marks it in use (shared or exclusive) around f(s).
template <class Self, Use U, class F>
PyObject* on_receiver(PyObject* self, F&& f) {
  Self* s = receiver<Self>(self);
  if (s == nullptr) return nullptr;
  UseGuard use(s, U);
  if (!use) return nullptr;
  return f(s);
}

// Binds and converts the arguments for Sig into Args, then calls
// call(converted...).
template <const Signature& Sig, class Args, class Call>
PyObject* bound_call(PyObject* const* args, Py_ssize_t nargs, const Keywords& kw, Call&& call) {
  Args a;
  PyRef kwargs;
  if (!bind_convert<Sig>(args, nargs, kw, a, kwargs)) return nullptr;
  return std::apply([&](auto&&... xs) { return call(std::move(xs)...); }, std::move(a));
}

// The positional items of a tuple as a fast-call argument array.
inline PyObject* const* tuple_items(PyObject* tuple) { return &PyTuple_GET_ITEM(tuple, 0); }

}  // namespace detail

// METH_FASTCALL | METH_KEYWORDS method of Self.
template <class Self, const Signature& Sig, auto Fn, Use U = Use::kShared>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return detail::guarded<PyObject*>(nullptr, [&] {
    return detail::on_receiver<Self, U>(self, [&](Self* s) {
      using Args = typename detail::Body<decltype(Fn)>::Args;
      return detail::bound_call<Sig, Args>(args, nargs, Keywords{args + nargs, kwnames, nullptr},
                                           [&](auto&&... xs) { return Fn(s, std::move(xs)...); });
    });
  });
}

// METH_VARARGS | METH_KEYWORDS method (the hooks that gather **kwargs).
template <class Self, const Signature& Sig, auto Fn>
PyObject* varargs_method(PyObject* self, PyObject* args, PyObject* kwds) {
  return detail::guarded<PyObject*>(nullptr, [&] {
    return detail::on_receiver<Self, Use::kShared>(self, [&](Self* s) {
      using Args = typename detail::Body<decltype(Fn)>::Args;
      return detail::bound_call<Sig, Args>(detail::tuple_items(args), PyTuple_GET_SIZE(args),
                                           Keywords{nullptr, nullptr, kwds},
                                           [&](auto&&... xs) { return Fn(s, std::move(xs)...); });
    });
  });
}

// METH_NOARGS method; also the property getter (its closure is unused) and
// tp_repr below: bodies that take only the receiver.
template <class Self, auto Fn, Use U = Use::kShared>
PyObject* noargs(PyObject* self, PyObject* = nullptr) {
  return detail::guarded<PyObject*>(nullptr,
                                    [&] { return detail::on_receiver<Self, U>(self, Fn); });
}

template <class Self, auto Fn>
PyObject* getter(PyObject* self, void*) {
  return noargs<Self, Fn>(self);
}

template <class Self, auto Fn>
PyObject* repr(PyObject* self) {
  return noargs<Self, Fn>(self);
}

// Module function (METH_FASTCALL | METH_KEYWORDS); the body takes no self.
template <const Signature& Sig, auto Fn>
PyObject* function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return detail::guarded<PyObject*>(nullptr, [&] {
    using Args = typename detail::FreeBody<decltype(Fn)>::Args;
    return detail::bound_call<Sig, Args>(args, nargs, Keywords{args + nargs, kwnames, nullptr},
                                         [&](auto&&... xs) { return Fn(std::move(xs)...); });
  });
}

// tp_new: the body gets the type being instantiated (a subclass for Service).
template <const Signature& Sig, auto Fn>
PyObject* constructor(PyTypeObject* type, PyObject* args, PyObject* kwds) {
  return detail::guarded<PyObject*>(nullptr, [&] {
    using Args = typename detail::Body<decltype(Fn)>::Args;
    return detail::bound_call<Sig, Args>(detail::tuple_items(args), PyTuple_GET_SIZE(args),
                                         Keywords{nullptr, nullptr, kwds},
                                         [&](auto&&... xs) { return Fn(type, std::move(xs)...); });
  });
}

// Property setter: the value is converted as the parameter `ArgName` of the
// body (bool Fn(Self*, T): false with an exception set on failure).
template <class Self, auto Fn, const char* ArgName>
int setter(PyObject* self, PyObject* value, void*) {
  return detail::guarded<int>(-1, [&]() -> int {
    Self* s = detail::receiver<Self>(self);
    if (s == nullptr) return -1;
    if (value == nullptr) {
      PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
      return -1;
    }
    detail::UseGuard use(s, Use::kShared);
    if (!use) return -1;
    using Args = typename detail::Body<decltype(Fn)>::Args;
    std::tuple_element_t<0, Args> v;
    if (!convert_arg(value, ArgName, &v)) return -1;
    return Fn(s, std::move(v)) ? 0 : -1;
  });
}

// tp_dealloc of a native object: runs the C++ destructor (dropping the
// record handles), frees the memory and drops the type reference that every
// instance of a heap type holds. A failure here cannot be raised: abort.
template <class Self>
void dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  if (PyType_HasFeature(tp, Py_TPFLAGS_HAVE_GC)) PyObject_GC_UnTrack(self);
  try {
    reinterpret_cast<Self*>(self)->~Self();
  } catch (...) {
    detail::abort_escaped("a failure while freeing an object");
  }
  tp->tp_free(self);
  Py_DECREF(tp);
}

// Allocates an instance of `type` and constructs Self in it; nullptr with
// an exception set on failure.
template <class Self>
Self* allocate(PyTypeObject* type) {
  PyObject* o = type->tp_alloc(type, 0);
  if (o == nullptr) return nullptr;
  // tp_alloc zero-fills: the C++ members are constructed over that memory.
  Self* s = reinterpret_cast<Self*>(o);
  new (&s->use) std::atomic<int32_t>(0);
  return s;
}

// A new Python object of class Self holding a handle onto rec.
template <class Self, class Record>
PyObject* wrap(Ref<Record> rec) {
  Self* s = allocate<Self>(Self::type);
  if (s == nullptr) return nullptr;
  new (&s->rec) Ref<Record>(std::move(rec));
  return reinterpret_cast<PyObject*>(s);
}

// A new list with one new object per record (Wrap: Ref<Record> -> PyObject*).
template <class Record, class Wrap>
PyObject* list_of(const std::vector<Ref<Record>>& recs, Wrap wrap_one) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(recs.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < recs.size(); ++i) {
    PyObject* o = wrap_one(recs[i]);
    if (o == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), o);
  }
  return list.release();
}

// A new object for the record, or None for a null handle.
template <class Record, class Wrap>
PyObject* object_or_none(const Ref<Record>& rec, Wrap wrap_one) {
  if (!rec) Py_RETURN_NONE;
  return wrap_one(rec);
}

// A new list of str.
PyObject* str_list(const std::vector<std::string>& texts);

// Casts a METH_FASTCALL | METH_KEYWORDS function for a PyMethodDef.
template <class F>
PyCFunction as_cfunction(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// Builds a PyMethodDef array (null-terminated, kept for the process) whose
// docs start with the text signature generated from each Signature.
struct MethodSpec {
  const Signature* sig;  // nullptr for METH_NOARGS methods with a fixed text signature
  const char* name;
  PyCFunction fn;
  int flags;
  const char* doc;  // body of the docstring (may be nullptr)
};
PyMethodDef* build_methods(std::initializer_list<MethodSpec> specs, bool bound);

// Creates a heap type from a PyType_Spec once per process. name is the full dotted
// name ("quillmoor.Book").
PyTypeObject* create_type(const char* name, int basicsize, unsigned flags,
                          std::vector<PyType_Slot> slots);

// A class of handles that only the system makes (Cell, Sheet, Comment,
// ReadableCell, ReadableSheet): no instantiation from Python, not a base
// type, an empty docstring, and the given repr (may be null), properties and
// methods (may be null).
template <class Self>
PyTypeObject* create_handle_type(const char* name, reprfunc repr_fn, PyGetSetDef* getset,
                                 PyMethodDef* methods) {
  std::vector<PyType_Slot> slots = {
      {Py_tp_doc, const_cast<char*>("")},
      {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Self>)},
      {Py_tp_getset, getset},
  };
  if (repr_fn != nullptr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr_fn)});
  if (methods != nullptr) slots.push_back({Py_tp_methods, methods});
  return create_type(name, sizeof(Self), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                     std::move(slots));
}

}  // namespace qm::py

#endif  // QUILLMOOR_BINDINGS_WRAPPER_H_
