// Cell values: the six kinds a cell can hold, their text form ("value text"),
// and the rule that turns a text into a value ("value parsing").
//
//   CellValue v = parse_value("1e3");        // Number 1000
//   ValueTextBuffer buf;
//   std::string_view t = value_text(v, buf);  // "1000"
//
// Everything here is a pure function of its arguments and safe on any thread.
#ifndef QUILLMOOR_CORE_VALUE_H_
#define QUILLMOOR_CORE_VALUE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

enum class ValueKind : uint8_t { kEmpty, kText, kNumber, kInteger, kBoolean, kDateTime };

// A calendar date and time of day without time zone, with a nanosecond
// fraction of the second (proleptic Gregorian calendar).
struct DateTime {
  int64_t seconds = 0;  // seconds since 1970-01-01 00:00:00
  uint32_t nanos = 0;   // 0 to 999'999'999

  struct Fields {
    int32_t year;
    uint8_t month, day, hour, minute, second;
    uint32_t nanos;
  };

  // nullopt when the fields do not name a valid date (month 1-12, day within
  // the month) and time (hour 0-23, minute 0-59, second 0-59, nanos < 1e9).
  static std::optional<DateTime> from_fields(const Fields& f);
  Fields fields() const;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// The typed value of one cell. Sixteen bytes: texts of up to 14 bytes live
// inline, longer ones in one heap block owned by the value.
class CellValue {
 public:
  CellValue() noexcept { raw_[kKindByte] = static_cast<char>(ValueKind::kEmpty); }
  CellValue(const CellValue& o);
  CellValue(CellValue&& o) noexcept;
  CellValue& operator=(const CellValue& o);
  CellValue& operator=(CellValue&& o) noexcept;
  ~CellValue() { free_text(); }

  static CellValue empty() { return CellValue(); }
  static CellValue text(std::string_view s);
  static CellValue number(double d);
  static CellValue integer(int32_t i);
  static CellValue boolean(bool b);
  static CellValue datetime(DateTime dt);

  ValueKind kind() const { return static_cast<ValueKind>(raw_[kKindByte]); }
  std::string_view as_text() const;  // kText only
  double as_number() const;          // kNumber only
  int32_t as_integer() const;        // kInteger only
  bool as_boolean() const;           // kBoolean only
  DateTime as_datetime() const;      // kDateTime only

  // The data type code of this kind: 's' (Empty, Text), 'n' (Number,
  // Integer), 'b' (Boolean) or 'd' (DateTime).
  char data_type_code() const;

  // Same kind and payload (numbers compared by bit pattern, so NaN equals NaN).
  friend bool operator==(const CellValue& a, const CellValue& b);

 private:
  static constexpr int kInlineCapacity = 14;
  static constexpr int kLenByte = 14;   // inline text length, or kHeapText
  static constexpr int kKindByte = 15;  // ValueKind
  static constexpr unsigned char kHeapText = 0xFF;

  bool heap_text() const {
    return kind() == ValueKind::kText && static_cast<unsigned char>(raw_[kLenByte]) == kHeapText;
  }
  void free_text() noexcept;
  void copy_from(const CellValue& o);

  alignas(8) char raw_[16] = {};
};

static_assert(sizeof(CellValue) == 16);

// Scratch space for value texts that are not stored as text. The longest is a
// number such as 5e-324 written without exponent ("0." then 323 zeros, "5").
struct ValueTextBuffer {
  char data[352];
};

// The value text of v: "" for Empty, the text itself, numbers as the shortest
// round-trip decimal without exponent ("1", "2.5", "0.0000001", "-0", "NaN",
// "inf", "-inf"), integers in decimal, "true"/"false", date-times as
// "2024-03-05 07:08:09[.fff|.ffffff|.fffffffff]". Never allocates: the view
// points into buf or into v's own text, so it lives as long as both do.
std::string_view value_text(const CellValue& v, ValueTextBuffer& buf);
std::string value_text_string(const CellValue& v);

// The number part of value_text, shared with the text form of foreign floats.
std::string_view number_text(double d, ValueTextBuffer& buf);

// Shortest round-trip decimal digits of a finite double: x = 0.d1d2...dn * 10^(exponent+1),
// that is, the first digit stands for 10^exponent. Zero gives digits "0", exponent 0.
struct ShortestDigits {
  char digits[24];
  int count;     // number of significant digits
  int exponent;  // decimal exponent of the first digit
  bool negative;
};
ShortestDigits shortest_digits(double finite);

// Date-time text with the given separator between date and time (' ' for the
// value text, 'T' for the JSON document). Appends to out; at most 40 bytes.
size_t format_datetime(DateTime dt, char separator, char* out);

// Value parsing: TRUE/FALSE (full Unicode upper-casing), empty, 32-bit
// integer, float literal, "%Y-%m-%d %H:%M:%S" date-time, otherwise text.
CellValue parse_value(std::string_view text);

}  // namespace qm

#endif  // QUILLMOOR_CORE_VALUE_H_
