#include "core/value.h"

#include <cassert>
#include <charconv>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/text.h"

namespace qm {

// ---- DateTime ---------------------------------------------------------------

namespace {

constexpr int64_t kSecondsPerDay = 86400;

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

std::optional<DateTime> DateTime::from_fields(const Fields& f) {
  using namespace std::chrono;
  if (f.year < -32767 || f.year > 32767) return std::nullopt;
  year_month_day ymd{year{f.year}, month{f.month}, day{f.day}};
  if (!ymd.ok() || f.hour > 23 || f.minute > 59 || f.second > 59 || f.nanos > 999'999'999)
    return std::nullopt;
  int64_t days = sys_days(ymd).time_since_epoch().count();
  DateTime dt;
  dt.seconds = days * kSecondsPerDay + f.hour * 3600 + f.minute * 60 + f.second;
  dt.nanos = f.nanos;
  return dt;
}

DateTime::Fields DateTime::fields() const {
  using namespace std::chrono;
  int64_t days = floor_div(seconds, kSecondsPerDay);
  int64_t rem = seconds - days * kSecondsPerDay;
  year_month_day ymd{sys_days{std::chrono::days{days}}};
  Fields f;
  f.year = static_cast<int>(ymd.year());
  f.month = static_cast<uint8_t>(static_cast<unsigned>(ymd.month()));
  f.day = static_cast<uint8_t>(static_cast<unsigned>(ymd.day()));
  f.hour = static_cast<uint8_t>(rem / 3600);
  f.minute = static_cast<uint8_t>(rem / 60 % 60);
  f.second = static_cast<uint8_t>(rem % 60);
  f.nanos = nanos;
  return f;
}

// ---- CellValue --------------------------------------------------------------

CellValue::CellValue(const CellValue& o) { copy_from(o); }

CellValue::CellValue(CellValue&& o) noexcept {
  std::memcpy(raw_, o.raw_, sizeof raw_);
  o.raw_[kKindByte] = static_cast<char>(ValueKind::kEmpty);
}

CellValue& CellValue::operator=(const CellValue& o) {
  if (this != &o) {
    CellValue tmp(o);
    *this = std::move(tmp);
  }
  return *this;
}

CellValue& CellValue::operator=(CellValue&& o) noexcept {
  if (this != &o) {
    free_text();
    std::memcpy(raw_, o.raw_, sizeof raw_);
    o.raw_[kKindByte] = static_cast<char>(ValueKind::kEmpty);
  }
  return *this;
}

void CellValue::free_text() noexcept {
  if (heap_text()) {
    char* p;
    std::memcpy(&p, raw_, sizeof p);
    delete[] p;
  }
}

void CellValue::copy_from(const CellValue& o) {
  if (o.heap_text()) {
    *this = text(o.as_text());
  } else {
    std::memcpy(raw_, o.raw_, sizeof raw_);
  }
}

CellValue CellValue::text(std::string_view s) {
  CellValue v;
  if (s.size() <= kInlineCapacity) {
    std::memcpy(v.raw_, s.data(), s.size());
    v.raw_[kLenByte] = static_cast<char>(s.size());
  } else {
    // Texts are cell contents, far below 4 GiB; the length is kept in 32 bits.
    char* p = new char[s.size()];
    std::memcpy(p, s.data(), s.size());
    uint32_t n = static_cast<uint32_t>(s.size());
    std::memcpy(v.raw_, &p, sizeof p);
    std::memcpy(v.raw_ + 8, &n, sizeof n);
    v.raw_[kLenByte] = static_cast<char>(kHeapText);
  }
  v.raw_[kKindByte] = static_cast<char>(ValueKind::kText);
  return v;
}

CellValue CellValue::number(double d) {
  CellValue v;
  std::memcpy(v.raw_, &d, sizeof d);
  v.raw_[kKindByte] = static_cast<char>(ValueKind::kNumber);
  return v;
}

CellValue CellValue::integer(int32_t i) {
  CellValue v;
  std::memcpy(v.raw_, &i, sizeof i);
  v.raw_[kKindByte] = static_cast<char>(ValueKind::kInteger);
  return v;
}

CellValue CellValue::boolean(bool b) {
  CellValue v;
  v.raw_[0] = b ? 1 : 0;
  v.raw_[kKindByte] = static_cast<char>(ValueKind::kBoolean);
  return v;
}

CellValue CellValue::datetime(DateTime dt) {
  CellValue v;
  std::memcpy(v.raw_, &dt.seconds, sizeof dt.seconds);
  std::memcpy(v.raw_ + 8, &dt.nanos, sizeof dt.nanos);
  v.raw_[kKindByte] = static_cast<char>(ValueKind::kDateTime);
  return v;
}

std::string_view CellValue::as_text() const {
  if (heap_text()) {
    const char* p;
    uint32_t n;
    std::memcpy(&p, raw_, sizeof p);
    std::memcpy(&n, raw_ + 8, sizeof n);
    return std::string_view(p, n);
  }
  return std::string_view(raw_, static_cast<unsigned char>(raw_[kLenByte]));
}

double CellValue::as_number() const {
  double d;
  std::memcpy(&d, raw_, sizeof d);
  return d;
}

int32_t CellValue::as_integer() const {
  int32_t i;
  std::memcpy(&i, raw_, sizeof i);
  return i;
}

bool CellValue::as_boolean() const { return raw_[0] != 0; }

DateTime CellValue::as_datetime() const {
  DateTime dt;
  std::memcpy(&dt.seconds, raw_, sizeof dt.seconds);
  std::memcpy(&dt.nanos, raw_ + 8, sizeof dt.nanos);
  return dt;
}

char CellValue::data_type_code() const {
  switch (kind()) {
    case ValueKind::kEmpty:
    case ValueKind::kText:
      return 's';
    case ValueKind::kNumber:
    case ValueKind::kInteger:
      return 'n';
    case ValueKind::kBoolean:
      return 'b';
    case ValueKind::kDateTime:
      return 'd';
  }
  return 's';
}

bool operator==(const CellValue& a, const CellValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case ValueKind::kEmpty:
      return true;
    case ValueKind::kText:
      return a.as_text() == b.as_text();
    case ValueKind::kNumber: {
      double x = a.as_number(), y = b.as_number();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case ValueKind::kInteger:
      return a.as_integer() == b.as_integer();
    case ValueKind::kBoolean:
      return a.as_boolean() == b.as_boolean();
    case ValueKind::kDateTime:
      return a.as_datetime() == b.as_datetime();
  }
  return false;
}

// ---- value text ---------------------------------------------------------------

ShortestDigits shortest_digits(double finite) {
  ShortestDigits r{};
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, finite, std::chars_format::scientific);
  const char* p = buf;
  const char* end = res.ptr;
  if (*p == '-') {
    r.negative = true;
    ++p;
  }
  // d[.ddd]e(+|-)xx
  int n = 0;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') r.digits[n++] = *p;
  }
  // Trailing zeros never appear in the shortest form except for zero itself.
  r.count = n;
  ++p;  // 'e'
  bool neg_exp = *p == '-';
  ++p;
  int e = 0;
  for (; p < end; ++p) e = e * 10 + (*p - '0');
  r.exponent = neg_exp ? -e : e;
  r.digits[n] = '\0';
  return r;
}

std::string_view number_text(double d, ValueTextBuffer& buf) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  ShortestDigits s = shortest_digits(d);
  char* out = buf.data;
  char* o = out;
  if (s.negative) *o++ = '-';
  if (s.exponent >= s.count - 1) {
    std::memcpy(o, s.digits, s.count);
    o += s.count;
    int zeros = s.exponent - (s.count - 1);
    std::memset(o, '0', zeros);
    o += zeros;
  } else if (s.exponent >= 0) {
    std::memcpy(o, s.digits, s.exponent + 1);
    o += s.exponent + 1;
    *o++ = '.';
    std::memcpy(o, s.digits + s.exponent + 1, s.count - s.exponent - 1);
    o += s.count - s.exponent - 1;
  } else {
    *o++ = '0';
    *o++ = '.';
    int zeros = -s.exponent - 1;
    std::memset(o, '0', zeros);
    o += zeros;
    std::memcpy(o, s.digits, s.count);
    o += s.count;
  }
  return std::string_view(out, o - out);
}

namespace {

char* put2(char* o, unsigned v) {
  o[0] = static_cast<char>('0' + v / 10);
  o[1] = static_cast<char>('0' + v % 10);
  return o + 2;
}

}  // namespace

size_t format_datetime(DateTime dt, char separator, char* out) {
  DateTime::Fields f = dt.fields();
  char* o = out;
  if (f.year >= 0 && f.year <= 9999) {
    o = put2(o, f.year / 100);
    o = put2(o, f.year % 100);
  } else {
    *o++ = f.year < 0 ? '-' : '+';
    unsigned y = f.year < 0 ? static_cast<unsigned>(-f.year) : static_cast<unsigned>(f.year);
    char digits[16];
    auto r = std::to_chars(digits, digits + sizeof digits, y);
    for (ptrdiff_t pad = 4 - (r.ptr - digits); pad > 0; --pad) *o++ = '0';
    std::memcpy(o, digits, r.ptr - digits);
    o += r.ptr - digits;
  }
  *o++ = '-';
  o = put2(o, f.month);
  *o++ = '-';
  o = put2(o, f.day);
  *o++ = separator;
  o = put2(o, f.hour);
  *o++ = ':';
  o = put2(o, f.minute);
  *o++ = ':';
  o = put2(o, f.second);
  if (f.nanos != 0) {
    *o++ = '.';
    uint32_t frac = f.nanos;
    int width = 9;
    if (frac % 1'000'000 == 0) {
      frac /= 1'000'000;
      width = 3;
    } else if (frac % 1'000 == 0) {
      frac /= 1'000;
      width = 6;
    }
    for (int i = width - 1; i >= 0; --i) {
      o[i] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    o += width;
  }
  return o - out;
}

std::string_view value_text(const CellValue& v, ValueTextBuffer& buf) {
  switch (v.kind()) {
    case ValueKind::kEmpty:
      return {};
    case ValueKind::kText:
      return v.as_text();
    case ValueKind::kNumber:
      return number_text(v.as_number(), buf);
    case ValueKind::kInteger: {
      auto r = std::to_chars(buf.data, buf.data + sizeof buf.data, v.as_integer());
      return std::string_view(buf.data, r.ptr - buf.data);
    }
    case ValueKind::kBoolean:
      return v.as_boolean() ? "true" : "false";
    case ValueKind::kDateTime:
      return std::string_view(buf.data, format_datetime(v.as_datetime(), ' ', buf.data));
  }
  return {};
}

std::string value_text_string(const CellValue& v) {
  ValueTextBuffer buf;
  return std::string(value_text(v, buf));
}

// ---- value parsing --------------------------------------------------------------

namespace {

// Upper-cases t with the full Unicode mapping into out (at most cap bytes).
// Returns false when the result is not pure ASCII or longer than cap.
bool ascii_upper(std::string_view t, char* out, size_t cap, size_t* len) {
  size_t n = 0;
  size_t i = 0;
  while (i < t.size()) {
    char32_t cp = next_code_point(t, i);
    char buf[3];
    bool rest = false;
    int k = upper_ascii_prefix(cp, buf, &rest);
    if (rest || k == 0 || n + k > cap) return false;
    std::memcpy(out + n, buf, k);
    n += k;
  }
  *len = n;
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::optional<int32_t> parse_int32(std::string_view t) {
  size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
  if (i == t.size()) return std::nullopt;
  uint64_t v = 0;
  for (; i < t.size(); ++i) {
    if (!is_digit(t[i])) return std::nullopt;
    v = v * 10 + static_cast<unsigned>(t[i] - '0');
    if (v > 2147483648ull) v = 2147483649ull;  // saturate: out of range either way
  }
  if (neg) {
    if (v > 2147483648ull) return std::nullopt;
    return static_cast<int32_t>(-static_cast<int64_t>(v));
  }
  if (v > 2147483647ull) return std::nullopt;
  return static_cast<int32_t>(v);
}

bool iequals(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Float literal: [+-]? (digits [. digits?] | . digits) ([eE] [+-]? digits)?,
// or [+-]? inf|infinity|nan in any case. No blanks, no "nan(...)".
std::optional<double> parse_float(std::string_view t) {
  size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
  std::string_view body = t.substr(i);
  if (iequals(body, "inf") || iequals(body, "infinity"))
    return neg ? -HUGE_VAL : HUGE_VAL;
  if (iequals(body, "nan")) return neg ? -std::nan("") : std::nan("");
  size_t int_digits = 0, frac_digits = 0;
  size_t j = i;
  while (j < t.size() && is_digit(t[j])) ++j, ++int_digits;
  if (j < t.size() && t[j] == '.') {
    ++j;
    while (j < t.size() && is_digit(t[j])) ++j, ++frac_digits;
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  if (j < t.size() && (t[j] == 'e' || t[j] == 'E')) {
    ++j;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    size_t exp_digits = 0;
    while (j < t.size() && is_digit(t[j])) ++j, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (j != t.size()) return std::nullopt;
  double d = 0;
  const char* first = t.data() + i;
  const char* last = t.data() + t.size();
  auto r = std::from_chars(first, last, d, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Too large a magnitude reads as infinity, too small as zero: the
    // magnitude is the position of the first significant digit plus the
    // exponent (saturated, so an absurd exponent cannot overflow).
    int64_t magnitude = 0;
    size_t k = i;
    while (k < t.size() && t[k] == '0') ++k;
    if (k < t.size() && is_digit(t[k])) {
      size_t start = k;
      while (k < t.size() && is_digit(t[k])) ++k;
      magnitude = static_cast<int64_t>(k - start) - 1;
    } else {
      if (k < t.size() && t[k] == '.') ++k;
      size_t start = k;
      while (k < t.size() && t[k] == '0') ++k;
      magnitude = -static_cast<int64_t>(k - start) - 1;
    }
    while (k < t.size() && t[k] != 'e' && t[k] != 'E') ++k;
    if (k < t.size()) {
      ++k;
      bool eneg = false;
      if (t[k] == '+' || t[k] == '-') eneg = t[k++] == '-';
      int64_t e = 0;
      for (; k < t.size(); ++k) e = std::min<int64_t>(e * 10 + (t[k] - '0'), 1'000'000'000);
      magnitude += eneg ? -e : e;
    }
    d = magnitude > 0 ? HUGE_VAL : 0.0;
  } else if (r.ec != std::errc() || r.ptr != last) {
    return std::nullopt;
  }
  return neg ? -d : d;
}

std::optional<DateTime> parse_datetime(std::string_view t) {
  // YYYY-MM-DD HH:MM:SS, every field its full width.
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (t.size() != sizeof kShape - 1) return std::nullopt;
  for (size_t i = 0; i < t.size(); ++i) {
    if (kShape[i] == 'd' ? !is_digit(t[i]) : t[i] != kShape[i]) return std::nullopt;
  }
  auto num = [&](size_t pos, size_t len) {
    int v = 0;
    for (size_t i = pos; i < pos + len; ++i) v = v * 10 + (t[i] - '0');
    return v;
  };
  DateTime::Fields f{};
  f.year = num(0, 4);
  f.month = static_cast<uint8_t>(num(5, 2));
  f.day = static_cast<uint8_t>(num(8, 2));
  f.hour = static_cast<uint8_t>(num(11, 2));
  f.minute = static_cast<uint8_t>(num(14, 2));
  f.second = static_cast<uint8_t>(num(17, 2));
  f.nanos = 0;
  return DateTime::from_fields(f);
}

}  // namespace

CellValue parse_value(std::string_view t) {
  // Rule 1: TRUE / FALSE after full Unicode upper-casing. Every mapping that
  // can produce those letters is ASCII, and "FALSE" has five of them.
  char up[6];
  size_t n = 0;
  // Only a text starting with t, T, f, F or a non-ASCII character (a long s
  // or a ligature can upper-case to the letters) can read as a boolean.
  const unsigned char first = t.empty() ? 0 : static_cast<unsigned char>(t[0]);
  const bool may_be_bool = first >= 0x80 || first == 't' || first == 'T' || first == 'f' ||
                           first == 'F';
  if (may_be_bool && t.size() <= 5 * 4 && ascii_upper(t, up, sizeof up, &n)) {
    std::string_view u(up, n);
    if (u == "TRUE") return CellValue::boolean(true);
    if (u == "FALSE") return CellValue::boolean(false);
  }
  if (t.empty()) return CellValue::empty();
  if (auto i = parse_int32(t)) return CellValue::integer(*i);
  if (auto d = parse_float(t)) return CellValue::number(*d);
  if (auto dt = parse_datetime(t)) return CellValue::datetime(*dt);
  return CellValue::text(t);
}

}  // namespace qm
