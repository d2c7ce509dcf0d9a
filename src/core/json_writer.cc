#include "core/json_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <shared_mutex>
#include <vector>

#include "core/pool.h"
#include "core/value.h"

namespace qm {

namespace detail {

namespace {

// What follows the backslash for each byte that needs escaping; 0 for bytes
// written as they are, 'u' for the \u00xx form.
constexpr std::array<char, 256> kEscapes = [] {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}();

constexpr char kHex[] = "0123456789abcdef";

// Room that put_json_number may use.
constexpr size_t kMaxNumber = 64;

// Room that put_json_string may use for a text of n bytes: quotes, and six
// bytes (\u00xx) per byte at worst.
constexpr size_t max_json_string(size_t n) { return 2 + 6 * n; }

// Plain notation for decimal exponents in this range, scientific outside it.
constexpr int kPlainMinExponent = -5;
constexpr int kPlainMaxExponent = 15;

template <class T>
void append_integer(std::string& out, T v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr - buf);
}

}  // namespace

namespace {

// The text forms written through a raw cursor with enough room (kMaxNumber,
// max_json_string); each returns the end of what it wrote.
char* put_json_number(char* o, double d) {
  if (!std::isfinite(d)) {
    std::memcpy(o, "null", 4);
    return o + 4;
  }
  ShortestDigits s = shortest_digits(d);
  // Longest form: sign, "0.", four zeros, 17 digits; or 17 digits, 16
  // places of padding zeros and ".0": within kMaxNumber.
  if (s.negative) *o++ = '-';
  const int e = s.exponent;
  const int n = s.count;
  if (e >= kPlainMinExponent && e <= kPlainMaxExponent) {
    if (e < 0) {
      *o++ = '0';
      *o++ = '.';
      std::memset(o, '0', -e - 1);
      o += -e - 1;
      std::memcpy(o, s.digits, n);
      o += n;
    } else if (e >= n - 1) {
      std::memcpy(o, s.digits, n);
      o += n;
      std::memset(o, '0', e - (n - 1));
      o += e - (n - 1);
      *o++ = '.';
      *o++ = '0';
    } else {
      std::memcpy(o, s.digits, e + 1);
      o += e + 1;
      *o++ = '.';
      std::memcpy(o, s.digits + e + 1, n - e - 1);
      o += n - e - 1;
    }
  } else {
    *o++ = s.digits[0];
    if (n > 1) {
      *o++ = '.';
      std::memcpy(o, s.digits + 1, n - 1);
      o += n - 1;
    }
    *o++ = 'e';
    *o++ = e < 0 ? '-' : '+';
    o = std::to_chars(o, o + 8, e < 0 ? -e : e).ptr;
  }
  return o;
}

char* put_json_string(char* o, std::string_view text) {
  *o++ = '"';
  const char* p = text.data();
  const char* end = p + text.size();
  const char* run = p;  // start of the bytes not yet written
  for (; p < end; ++p) {
    char esc = kEscapes[static_cast<unsigned char>(*p)];
    if (esc == 0) continue;
    if (p != run) std::memcpy(o, run, p - run);
    o += p - run;
    run = p + 1;
    *o++ = '\\';
    if (esc == 'u') {
      unsigned char c = static_cast<unsigned char>(*p);
      *o++ = 'u';
      *o++ = '0';
      *o++ = '0';
      *o++ = kHex[c >> 4];
      *o++ = kHex[c & 0xF];
    } else {
      *o++ = esc;
    }
  }
  // An empty view may have no data at all, so never memcpy from it.
  if (end != run) std::memcpy(o, run, end - run);
  o += end - run;
  *o++ = '"';
  return o;
}

}  // namespace

void append_json_number(std::string& out, double d) {
  char buf[kMaxNumber];
  out.append(buf, put_json_number(buf, d) - buf);
}

void append_json_string(std::string& out, std::string_view text) {
  size_t old = out.size();
  out.resize(old + max_json_string(text.size()));
  char* end = put_json_string(out.data() + old, text);
  out.resize(end - out.data());
}

}  // namespace detail

namespace {

using detail::append_integer;
using detail::append_json_number;
using detail::append_json_string;
using detail::max_json_string;
using detail::put_json_number;
using detail::put_json_string;

void append_bool(std::string& out, bool b) { out.append(b ? "true" : "false"); }

// Appends to a string through a raw cursor: room(n) makes sure n bytes may
// be written at the returned position (one capacity check for a whole cell
// object), commit(end) records how far they were written. The string's size
// runs ahead of the text while writing; finish() trims it.
class Sink {
 public:
  // Whatever capacity the string already has is used first.
  explicit Sink(std::string& s) : s_(s), len_(s.size()) { s_.resize(s_.capacity()); }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  char* room(size_t n) {
    if (s_.size() - len_ < n) s_.resize(std::max(2 * s_.size(), len_ + n));
    return s_.data() + len_;
  }
  void commit(char* end) { len_ = static_cast<size_t>(end - s_.data()); }
  void finish() { s_.resize(len_); }

 private:
  std::string& s_;
  size_t len_;
};

template <size_t N>
char* put(char* o, const char (&lit)[N]) {
  std::memcpy(o, lit, N - 1);
  return o + N - 1;
}

template <class T>
char* put_integer(char* o, T v) {
  return std::to_chars(o, o + 24, v).ptr;
}

// Room one cell object may take: the member names and numbers, plus every
// text escaped at worst.
size_t max_cell(const CellRecord& c) {
  size_t n = 192 + max_json_string(c.data_type().size());
  if (c.value().kind() == ValueKind::kText) n += max_json_string(c.value().as_text().size());
  if (const std::string* f = c.formula()) n += max_json_string(f->size());
  if (const std::string* s = c.style_id()) n += max_json_string(s->size());
  if (const std::string* h = c.hidden_value()) n += max_json_string(h->size());
  return n;
}

char* put_value(char* o, const CellValue& v) {
  switch (v.kind()) {
    case ValueKind::kEmpty:
      return put(o, "null");
    case ValueKind::kText:
      return put_json_string(o, v.as_text());
    case ValueKind::kNumber:
      return put_json_number(o, v.as_number());
    case ValueKind::kInteger:
      return put_integer(o, v.as_integer());
    case ValueKind::kBoolean:
      return v.as_boolean() ? put(o, "true") : put(o, "false");
    case ValueKind::kDateTime:
      *o++ = '"';
      o += format_datetime(v.as_datetime(), 'T', o);
      *o++ = '"';
      return o;
  }
  return o;
}

// One cell object; the caller holds the cell's lock shared.
void write_cell(Sink& sink, const CellRecord& c) {
  char* o = sink.room(max_cell(c));
  o = put(o, "{\"row\":");
  o = put_integer(o, c.row());
  o = put(o, ",\"column\":");
  o = put_integer(o, c.column());
  o = put(o, ",\"value\":");
  o = put_value(o, c.value());
  if (const std::string* f = c.formula()) {
    o = put(o, ",\"formula\":");
    o = put_json_string(o, *f);
  }
  o = put(o, ",\"data_type\":");
  o = put_json_string(o, c.data_type());
  if (const std::string* s = c.style_id()) {
    o = put(o, ",\"style_id\":");
    o = put_json_string(o, *s);
  }
  if (const std::string* h = c.hidden_value()) {
    o = put(o, ",\"hidden_value\":");
    o = put_json_string(o, *h);
  }
  *o++ = '}';
  sink.commit(o);
}

// The entries of a dimension table in ascending key order (the tables are
// hash maps; sorting makes the document deterministic).
template <class Map>
std::vector<const typename Map::value_type*> by_key(const Map& m) {
  std::vector<const typename Map::value_type*> v;
  v.reserve(m.size());
  for (const auto& e : m) v.push_back(&e);
  std::sort(v.begin(), v.end(), [](auto* a, auto* b) { return a->first < b->first; });
  return v;
}

// The names of one layout object's members: "rows"/"row_num"/"height"/
// "default_height", or the same for columns.
struct LayoutKeys {
  const char* table;    // "\"rows\":{"
  const char* number;   // "\":{\"row_num\":"
  const char* size;     // ",\"height\":"
  const char* fallback;  // "\"default_height\":"
};

constexpr LayoutKeys kRowKeys{"\"rows\":{", "\":{\"row_num\":", ",\"height\":",
                              "\"default_height\":"};
constexpr LayoutKeys kColumnKeys{"\"columns\":{", "\":{\"col_num\":", ",\"width\":",
                                 "\"default_width\":"};

// A row or column layout object: the table member only when it has entries,
// then the default size. `number` and `size` name the dimension's fields
// (row_num and height, or col_num and width).
template <class Map, class Dim, class Num>
void write_layout(std::string& out, const Map& table, double default_size, const LayoutKeys& keys,
                  Num Dim::*number, double Dim::*size) {
  out.push_back('{');
  if (!table.empty()) {
    out.append(keys.table);
    bool first = true;
    for (const auto* e : by_key(table)) {
      if (!first) out.push_back(',');
      first = false;
      const Dim& d = e->second;
      out.push_back('"');
      append_integer(out, e->first);
      out.append(keys.number);
      append_integer(out, d.*number);
      out.append(keys.size);
      append_json_number(out, d.*size);
      out.append(",\"hidden\":");
      append_bool(out, d.hidden);
      out.append(",\"collapsed\":");
      append_bool(out, d.collapsed);
      out.append(",\"level\":");
      append_integer(out, d.level);
      out.push_back('}');
    }
    out.append("},");
  }
  out.append(keys.fallback);
  append_json_number(out, default_size);
  out.push_back('}');
}

void write_row_dimensions(std::string& out, const SheetRecord& s) {
  write_layout(out, s.rows, s.default_height, kRowKeys, &RowDimension::row_num,
               &RowDimension::height);
}

void write_column_dimensions(std::string& out, const SheetRecord& s) {
  write_layout(out, s.columns, s.default_width, kColumnKeys, &ColumnDimension::col_num,
               &ColumnDimension::width);
}

// Cells [begin, end) of the sorted entries, each under its own shared lock,
// with a "," before every cell but the very first of the sheet. Raw pointers
// are enough: the table keeps every record alive while the sheet lock is
// held.
void write_cell_range(std::string& out, const std::vector<std::pair<uint64_t, CellRecord*>>& cells,
                      size_t begin, size_t end) {
  Sink sink(out);
  for (size_t i = begin; i < end; ++i) {
    const CellRecord& cell = *cells[i].second;
    if (i != 0) sink.commit(put(sink.room(1), ","));
    std::shared_lock cell_read(cell.lock());
    write_cell(sink, cell);
  }
  sink.finish();
}

// Large sheets are written in chunks of this many cells, formatted on the
// pool and joined in order: formatting numbers and dates is most of the
// writer's work, and it parallelises perfectly.
constexpr size_t kCellsPerChunk = 16384;

// Whether every byte of text is ASCII, eight bytes at a time.
bool is_ascii(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  uint64_t high = 0;
  for (; end - p >= 8; p += 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    high |= w;
  }
  for (; p < end; ++p) high |= static_cast<unsigned char>(*p);
  return (high & 0x8080808080808080ULL) == 0;
}

// The document under construction: finished pieces plus the one being
// appended to. Large sheets' cells arrive as whole pieces formatted on the
// pool, so they are never copied into one big buffer here.
struct Document {
  std::vector<std::string> pieces;
  std::string out;
  size_t size = 0;
  bool ascii = true;

  void add(std::string piece, bool piece_ascii) {
    size += piece.size();
    ascii = ascii && piece_ascii;
    pieces.push_back(std::move(piece));
  }
  // Closes the current piece.
  void flush() {
    if (out.empty()) return;
    bool a = is_ascii(out);
    add(std::move(out), a);
    out = std::string();
  }
};

void write_cells(Document& doc, const std::vector<std::pair<uint64_t, CellRecord*>>& cells) {
  std::string& out = doc.out;
  const size_t n = cells.size();
  const size_t chunks = (n + kCellsPerChunk - 1) / kCellsPerChunk;
  const size_t threads = chunks < 2 ? 1 : std::min(pool::worker_count(), chunks);
  if (threads <= 1) {
    // Room for the cells up front (a short cell object takes about 60
    // bytes): growing a large text by doubling copies it again and again.
    out.reserve(out.size() + n * 64);
    write_cell_range(out, cells, 0, n);
    return;
  }
  std::vector<std::string> parts(chunks);
  std::vector<char> part_ascii(chunks);
  auto body = [&](size_t c) {
    size_t begin = c * kCellsPerChunk;
    parts[c].reserve(kCellsPerChunk * 64);
    write_cell_range(parts[c], cells, begin, std::min(n, begin + kCellsPerChunk));
    part_ascii[c] = is_ascii(parts[c]);  // checked while the text is in cache
    return true;
  };
  pool::detail::run_ordered(chunks, threads, body);
  doc.pieces.reserve(doc.pieces.size() + chunks + 2);
  doc.flush();
  for (size_t c = 0; c < chunks; ++c) doc.add(std::move(parts[c]), part_ascii[c] != 0);
}

void write_sheet(Document& doc, const SheetRecord& s) {
  std::shared_lock sheet_read(s.lock());
  std::string& out = doc.out;
  out.append("{\"name\":");
  append_json_string(out, s.name);
  out.append(",\"sheet_state\":");
  append_json_string(out, s.sheet_state);

  out.append(",\"merge_cells\":[");
  for (size_t i = 0; i < s.merge_cells.size(); ++i) {
    const MergeRange& m = s.merge_cells[i];
    if (i != 0) out.push_back(',');
    out.push_back('[');
    append_integer(out, m.start_row);
    out.push_back(',');
    append_integer(out, m.end_row);
    out.push_back(',');
    append_integer(out, m.start_col);
    out.push_back(',');
    append_integer(out, m.end_col);
    out.push_back(']');
  }

  out.append("],\"cells\":[");
  write_cells(doc, s.cells.sorted_entries());

  out.append("],\"row_dimensions\":");
  write_row_dimensions(out, s);
  out.append(",\"column_dimensions\":");
  write_column_dimensions(out, s);

  out.append(",\"comments\":[");
  for (size_t i = 0; i < s.comments.size(); ++i) {
    const CommentRecord& c = *s.comments[i];
    if (i != 0) out.push_back(',');
    std::shared_lock comment_read(c.lock());
    out.append("{\"row\":");
    append_integer(out, c.row());
    out.append(",\"column\":");
    append_integer(out, c.column());
    out.append(",\"author\":");
    append_json_string(out, c.author());
    out.append(",\"text\":");
    append_json_string(out, c.text());
    out.push_back('}');
  }
  out.append("]}");
}

}  // namespace

void JsonPieces::copy_to(char* dst) const {
  std::vector<size_t> offsets(pieces.size() + 1, 0);
  for (size_t i = 0; i < pieces.size(); ++i) offsets[i + 1] = offsets[i] + pieces[i].size();
  auto body = [&](size_t i) {
    std::memcpy(dst + offsets[i], pieces[i].data(), pieces[i].size());
    return true;
  };
  // Copying into fresh memory is mostly page faults, which two threads take
  // in parallel; small documents are not worth waking the workers.
  size_t threads = size < (size_t{4} << 20) ? 1 : std::min(pool::worker_count(), pieces.size());
  if (threads <= 1) {
    for (size_t i = 0; i < pieces.size(); ++i) body(i);
  } else {
    pool::detail::run_ordered(pieces.size(), threads, body);
  }
}

Result<JsonPieces> write_document_pieces(std::span<const SheetRef> sheets) {
  try {
    Document doc;
    doc.out.reserve(128);
    doc.out.append("{\"sheets\":[");
    for (size_t i = 0; i < sheets.size(); ++i) {
      if (i != 0) doc.out.push_back(',');
      write_sheet(doc, *sheets[i]);
    }
    doc.out.append("]}");
    doc.flush();
    JsonPieces result;
    result.pieces = std::move(doc.pieces);
    result.size = doc.size;
    result.ascii = doc.ascii;
    return result;
  } catch (const std::bad_alloc&) {
    return Status(ErrorCode::kJson, "out of memory while writing the document");
  } catch (const std::exception& e) {
    return Status(ErrorCode::kJson, e.what());
  }
}

Result<std::string> write_document(std::span<const SheetRef> sheets) {
  Result<JsonPieces> doc = write_document_pieces(sheets);
  if (!doc.ok()) return doc.status();
  try {
    std::string out(doc->size, '\0');
    doc->copy_to(out.data());
    return out;
  } catch (const std::bad_alloc&) {
    return Status(ErrorCode::kJson, "out of memory while writing the document");
  }
}

}  // namespace qm
