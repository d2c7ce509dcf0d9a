// The workbook JSON document: every sheet of a workbook with its cells,
// merged ranges, row and column layout and comments, as one compact JSON text
// with a fixed member order and fixed number, date-time and string forms.
//
//   std::shared_lock read(list->lock());
//   Result<std::string> doc = write_document(list->sheets);  // {"sheets":[...]}
//
// The writer streams straight into one growing buffer (no intermediate tree).
// It only reads the records; it keeps nothing.
#ifndef QUILLMOOR_CORE_JSON_WRITER_H_
#define QUILLMOOR_CORE_JSON_WRITER_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/sheet.h"
#include "core/status.h"

namespace qm {

// The document for these sheets, in this order. The caller holds the sheet
// list's lock shared (so the span stays valid). Takes each sheet's lock
// shared, one sheet at a time, and inside it each cell's and comment's lock
// shared, one record at a time, releasing each as soon as its record is
// written. Cells are written sorted by (row, column); the members of "rows"
// and "columns" in ascending number order. On any failure (in practice: no
// memory) returns ErrorCode::kJson with a description, and no partial text.
// Runs on the calling thread; sorting a large sheet may use the pool.
Result<std::string> write_document(std::span<const SheetRef> sheets);

// The same document as consecutive pieces of text, for callers that copy it
// once more anyway (the binding copies it straight into a Python str, which
// saves joining it here first): the document is the pieces joined in order.
struct JsonPieces {
  std::vector<std::string> pieces;
  size_t size = 0;     // total bytes of the pieces
  bool ascii = true;   // no byte above 0x7F anywhere

  // Copies the pieces, joined, to dst (size bytes of room); large documents
  // are copied on the pool. Never throws.
  void copy_to(char* dst) const;
};

// As write_document, with the same locks, failures and threads.
Result<JsonPieces> write_document_pieces(std::span<const SheetRef> sheets);

namespace detail {

// The pieces of the document's text forms, appended to out. Exposed for tests.
//
// A 64-bit float: shortest round-trip digits; plain notation for decimal
// exponents -5 to 15 (always with a fractional part: 20.0, 0.00001),
// scientific otherwise (1e+16, 2.5e-7); NaN and infinities as null.
void append_json_number(std::string& out, double d);
// A JSON string: quotes around the text; `"` and `\` escaped with a
// backslash, U+0008/9/A/C/D as \b \t \n \f \r, other controls below U+0020
// as \u00xx (lower-case hex); every other byte unchanged.
void append_json_string(std::string& out, std::string_view text);

}  // namespace detail

}  // namespace qm

#endif  // QUILLMOOR_CORE_JSON_WRITER_H_
