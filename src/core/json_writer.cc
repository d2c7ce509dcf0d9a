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

void append_json_number(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out.append("null");
    return;
  }
  ShortestDigits s = shortest_digits(d);
  // Longest form: sign, "0.", four zeros, 17 digits; or 17 digits, 16
  // places of padding zeros and ".0". 64 bytes is plenty.
  char buf[64];
  char* o = buf;
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
    o = std::to_chars(o, buf + sizeof buf, e < 0 ? -e : e).ptr;
  }
  out.append(buf, o - buf);
}

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  const char* p = text.data();
  const char* end = p + text.size();
  const char* run = p;  // start of the bytes not yet written
  for (; p < end; ++p) {
    char esc = kEscapes[static_cast<unsigned char>(*p)];
    if (esc == 0) continue;
    out.append(run, p - run);
    run = p + 1;
    if (esc == 'u') {
      unsigned char c = static_cast<unsigned char>(*p);
      const char u[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(u, sizeof u);
    } else {
      const char e[2] = {'\\', esc};
      out.append(e, sizeof e);
    }
  }
  out.append(run, end - run);
  out.push_back('"');
}

}  // namespace detail

namespace {

using detail::append_integer;
using detail::append_json_number;
using detail::append_json_string;

void append_bool(std::string& out, bool b) { out.append(b ? "true" : "false"); }

void write_value(std::string& out, const CellValue& v) {
  switch (v.kind()) {
    case ValueKind::kEmpty:
      out.append("null");
      return;
    case ValueKind::kText:
      append_json_string(out, v.as_text());
      return;
    case ValueKind::kNumber:
      append_json_number(out, v.as_number());
      return;
    case ValueKind::kInteger:
      append_integer(out, v.as_integer());
      return;
    case ValueKind::kBoolean:
      append_bool(out, v.as_boolean());
      return;
    case ValueKind::kDateTime: {
      char buf[48];
      buf[0] = '"';
      size_t n = 1 + format_datetime(v.as_datetime(), 'T', buf + 1);
      buf[n++] = '"';
      out.append(buf, n);
      return;
    }
  }
}

// One cell object; the caller holds the cell's lock shared.
void write_cell(std::string& out, const CellRecord& c) {
  out.append("{\"row\":");
  append_integer(out, c.row());
  out.append(",\"column\":");
  append_integer(out, c.column());
  out.append(",\"value\":");
  write_value(out, c.value());
  if (const std::string* f = c.formula()) {
    out.append(",\"formula\":");
    append_json_string(out, *f);
  }
  out.append(",\"data_type\":");
  append_json_string(out, c.data_type());
  if (const std::string* s = c.style_id()) {
    out.append(",\"style_id\":");
    append_json_string(out, *s);
  }
  if (const std::string* h = c.hidden_value()) {
    out.append(",\"hidden_value\":");
    append_json_string(out, *h);
  }
  out.push_back('}');
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

void write_row_dimensions(std::string& out, const SheetRecord& s) {
  out.push_back('{');
  if (!s.rows.empty()) {
    out.append("\"rows\":{");
    bool first = true;
    for (const auto* e : by_key(s.rows)) {
      if (!first) out.push_back(',');
      first = false;
      const RowDimension& d = e->second;
      out.push_back('"');
      append_integer(out, e->first);
      out.append("\":{\"row_num\":");
      append_integer(out, d.row_num);
      out.append(",\"height\":");
      append_json_number(out, d.height);
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
  out.append("\"default_height\":");
  append_json_number(out, s.default_height);
  out.push_back('}');
}

void write_column_dimensions(std::string& out, const SheetRecord& s) {
  out.push_back('{');
  if (!s.columns.empty()) {
    out.append("\"columns\":{");
    bool first = true;
    for (const auto* e : by_key(s.columns)) {
      if (!first) out.push_back(',');
      first = false;
      const ColumnDimension& d = e->second;
      out.push_back('"');
      append_integer(out, e->first);
      out.append("\":{\"col_num\":");
      append_integer(out, d.col_num);
      out.append(",\"width\":");
      append_json_number(out, d.width);
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
  out.append("\"default_width\":");
  append_json_number(out, s.default_width);
  out.push_back('}');
}

// Cells [begin, end) of the sorted entries, each under its own shared lock,
// with a "," before every cell but the very first of the sheet. Raw pointers
// are enough: the table keeps every record alive while the sheet lock is
// held.
void write_cell_range(std::string& out, const std::vector<std::pair<uint64_t, CellRecord*>>& cells,
                      size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i) {
    if (i != 0) out.push_back(',');
    const CellRecord& cell = *cells[i].second;
    std::shared_lock cell_read(cell.lock());
    write_cell(out, cell);
  }
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
