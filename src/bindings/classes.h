// The Python classes of the module and the functions each class file offers
// to the others. Each type object is created once, on first use, and kept for
// the process; a getter returns nullptr with an exception set if creating it
// failed.
#ifndef QUILLMOOR_BINDINGS_CLASSES_H_
#define QUILLMOOR_BINDINGS_CLASSES_H_

#include "bindings/pyref.h"
#include "bindings/wrapper.h"
#include "core/records.h"
#include "core/sheet.h"

namespace qm::py {

// Sheet objects are also taken as arguments (Book.copy_sheet).
struct SheetObject : Handle<SheetRecord> {
  static constexpr const char* kName = "Sheet";
  static PyTypeObject* type;
};

PyTypeObject* service_type();
PyTypeObject* book_type();
PyTypeObject* sheet_type();
PyTypeObject* cell_type();
PyTypeObject* comment_type();

PyTypeObject* finder_type();
PyTypeObject* readable_sheet_type();
PyTypeObject* readable_cell_type();
// create_finder and the fifteen search functions, in registration order.
PyMethodDef* readable_functions();

// New Python objects over shared records (new references, or nullptr).
PyObject* new_cell(CellRef rec);
PyObject* new_sheet(SheetRef rec);
PyObject* new_comment(CommentRef rec);
PyObject* new_readable_cell(CellRef rec);
PyObject* new_readable_sheet(SheetRef rec);

}  // namespace qm::py

#endif  // QUILLMOOR_BINDINGS_CLASSES_H_
