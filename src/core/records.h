// The shared records behind Cell and Comment objects.
//
// A CellRecord is the unit of memory of the whole system (one per cell of
// every sheet), so it is packed into 40 bytes: the reference count, a 4-byte
// reader-writer lock, the coordinate, a one-byte data type code, the value,
// and a pointer to the rarely used optional texts (formula, style, hidden
// value, a data type longer than one byte), allocated only when one is set.
//
//   CellRef cell = CellRecord::create(7, 2, parse_value("42"));
//   {
//     std::shared_lock read(cell->lock());
//     cell->value();        // Integer 42
//     cell->data_type();    // "n"
//   }
//
// Locking: every accessor below expects the caller to hold lock() - shared
// for the const ones, exclusive for the others - except on a record that no
// other thread can reach yet (just created, not shared). The lock is never
// held while Python code runs.
#ifndef QUILLMOOR_CORE_RECORDS_H_
#define QUILLMOOR_CORE_RECORDS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/coordinate.h"
#include "core/ref.h"
#include "core/rwlock.h"
#include "core/value.h"

namespace qm {

class CellRecord : public RefCounted<CellRecord> {
 public:
  CellRecord(uint32_t row, uint16_t column, CellValue value) noexcept
      : row_(row), column_(column), value_(std::move(value)) {
    data_type_ = value_.data_type_code();
  }

  // A fully described record, as the adapter of foreign cells builds it.
  static Ref<CellRecord> create(uint32_t row, uint16_t column, CellValue value,
                                std::optional<std::string_view> formula, std::string_view data_type,
                                std::optional<std::string_view> style_id,
                                std::optional<std::string_view> hidden_value);

  RwLock& lock() const { return lock_; }

  uint32_t row() const { return row_; }
  uint16_t column() const { return column_; }
  Coordinate coordinate() const { return {row_, column_}; }
  // Packed (row, column) key: row in the high 32 bits, so keys order like
  // coordinates (by row, then column).
  uint64_t key() const { return pack_key(row_, column_); }
  static uint64_t pack_key(uint32_t row, uint16_t column) {
    return (static_cast<uint64_t>(row) << 32) | column;
  }

  const CellValue& value() const { return value_; }
  std::string_view data_type() const;
  const std::string* formula() const { return extras_ ? opt(extras_->formula) : nullptr; }
  const std::string* style_id() const { return extras_ ? opt(extras_->style_id) : nullptr; }
  const std::string* hidden_value() const { return extras_ ? opt(extras_->hidden_value) : nullptr; }
  // A formula is present and the data type is exactly "f".
  bool is_formula() const { return formula() != nullptr && data_type_ == 'f'; }

  // Writers (exclusive lock).
  void set_coordinate(uint32_t row, uint16_t column) {
    row_ = row;
    column_ = column;
  }
  // Assigning a value: the value is replaced, the formula removed, and the
  // data type becomes the code of the new kind. Style and hidden value stay.
  void assign_value(CellValue v);
  // Assigning a formula: the formula is set and the data type becomes "f".
  void assign_formula(std::string_view formula);
  void set_style_id(std::string_view s) { extras().style_id.emplace(s); }
  void set_hidden_value(std::string_view s) { extras().hidden_value.emplace(s); }
  void set_data_type(std::string_view dt);

  // A new record with the same fields (not shared, count one).
  Ref<CellRecord> clone() const;

 private:
  friend class RefCounted<CellRecord>;
  ~CellRecord() = default;

  struct Extras {
    std::optional<std::string> formula;
    std::optional<std::string> style_id;
    std::optional<std::string> hidden_value;
    std::string data_type;  // used when data_type_ == kLongDataType
  };
  static const std::string* opt(const std::optional<std::string>& s) { return s ? &*s : nullptr; }
  Extras& extras() {
    if (!extras_) extras_ = std::make_unique<Extras>();
    return *extras_;
  }

  // data_type_ holds a one-byte data type as that byte, the empty text as 0,
  // anything else as kLongDataType with the text in extras_.
  static constexpr char kLongDataType = '\xFF';

  mutable RwLock lock_;
  uint32_t row_;
  uint16_t column_;
  char data_type_ = 's';
  uint8_t reserved_ = 0;
  std::unique_ptr<Extras> extras_;
  CellValue value_;
};

using CellRef = Ref<CellRecord>;

// One comment of a sheet; shared by the sheet, its copies and Comment objects.
class CommentRecord : public RefCounted<CommentRecord> {
 public:
  CommentRecord(uint32_t row, uint16_t column, std::string author, std::string text)
      : row_(row), column_(column), author_(std::move(author)), text_(std::move(text)) {}

  RwLock& lock() const { return lock_; }
  uint32_t row() const { return row_; }
  uint16_t column() const { return column_; }
  const std::string& author() const { return author_; }
  const std::string& text() const { return text_; }
  void set_author(std::string_view a) { author_.assign(a); }
  void set_text(std::string_view t) { text_.assign(t); }

 private:
  friend class RefCounted<CommentRecord>;
  ~CommentRecord() = default;

  mutable RwLock lock_;
  uint32_t row_;
  uint16_t column_;
  std::string author_;
  std::string text_;
};

using CommentRef = Ref<CommentRecord>;

}  // namespace qm

#endif  // QUILLMOOR_CORE_RECORDS_H_
