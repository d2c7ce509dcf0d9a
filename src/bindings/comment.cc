// Python class Comment: a handle onto one shared comment record.
#include <mutex>
#include <shared_mutex>

#include "bindings/cell_common.h"
#include "bindings/classes.h"

namespace qm::py {
namespace {

struct CommentObject : Handle<CommentRecord> {
  static constexpr const char* kName = "Comment";
  static PyTypeObject* type;
};
PyTypeObject* CommentObject::type = nullptr;

constexpr char kValArg[] = "val";

PyObject* author(CommentObject* self) {
  std::string a;
  {
    std::shared_lock r(self->rec->lock());
    a = self->rec->author();
  }
  return new_str(a);
}

PyObject* text(CommentObject* self) {
  std::string t;
  {
    std::shared_lock r(self->rec->lock());
    t = self->rec->text();
  }
  return new_str(t);
}

bool set_author(CommentObject* self, std::string_view v) {
  std::unique_lock w(self->rec->lock());
  self->rec->set_author(v);
  return true;
}

bool set_text(CommentObject* self, std::string_view v) {
  std::unique_lock w(self->rec->lock());
  self->rec->set_text(v);
  return true;
}

PyObject* coordinate(CommentObject* self) {
  uint32_t row;
  uint16_t column;
  {
    std::shared_lock r(self->rec->lock());
    row = self->rec->row();
    column = self->rec->column();
  }
  return Py_BuildValue("(kk)", static_cast<unsigned long>(row), static_cast<unsigned long>(column));
}

PyObject* row(CommentObject* self) {
  std::shared_lock r(self->rec->lock());
  return PyLong_FromUnsignedLong(self->rec->row());
}

PyObject* column(CommentObject* self) {
  std::shared_lock r(self->rec->lock());
  return PyLong_FromUnsignedLong(self->rec->column());
}

PyTypeObject* make_comment_type() {
  using Self = CommentObject;
  static PyGetSetDef getset[] = {
      {"author", getter<Self, author>, setter<Self, set_author, kValArg>, nullptr, nullptr},
      {"text", getter<Self, text>, setter<Self, set_text, kValArg>, nullptr, nullptr},
      {"coordinate", getter<Self, coordinate>, nullptr, nullptr, nullptr},
      {"row", getter<Self, row>, nullptr, nullptr, nullptr},
      {"column", getter<Self, column>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  return create_handle_type<Self>("quillmoor.Comment", nullptr, getset, nullptr);
}

}  // namespace

PyTypeObject* comment_type() {
  if (CommentObject::type == nullptr) CommentObject::type = make_comment_type();
  return CommentObject::type;
}

PyObject* new_comment(CommentRef rec) {
  if (comment_type() == nullptr) return nullptr;
  return wrap<CommentObject>(std::move(rec));
}

}  // namespace qm::py
