#include "core/search.h"

#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include "core/coordinate.h"
#include "core/pattern.h"
#include "core/pool.h"
#include "core/text.h"
#include "core/value.h"

namespace qm {

namespace detail {

// Record tests. A test is made once per piece (so per-piece state such as
// regex match data and the value text buffer is set up once, not per record)
// and called as test(record) with the record's shared lock held.

// The value text of a record, written into the test's own stack buffer.
struct TextSource {
  ValueTextBuffer buf;
  std::string_view operator()(const CellRecord& c) { return value_text(c.value(), buf); }
};

// The value texts of every kind but kText are ASCII over a small alphabet
// (value_text: numbers in plain notation, "NaN", "inf", "-inf"; integers;
// "true"/"false"; "2024-03-05 07:08:09.5"; Empty is ""). A search that
// needs a character outside a kind's alphabet - "total" can never match a
// number - skips those records without making or comparing their text.
constexpr std::string_view kAlphabets[] = {
    "",                   // kEmpty
    "",                   // kText: unused, texts may hold anything
    "0123456789.-Nainf",  // kNumber
    "0123456789-",        // kInteger
    "truefals",           // kBoolean
    "0123456789-: .",     // kDateTime
};
static_assert(std::size(kAlphabets) == static_cast<size_t>(ValueKind::kDateTime) + 1 &&
              static_cast<size_t>(ValueKind::kText) == 1);

// Which kinds of value a search can find at all, decided once per call.
class KindFilter {
 public:
  // For a pattern: what PCRE2's analysis allows (Pattern::may_match_over).
  explicit KindFilter(const Pattern& p) {
    for (size_t k = 0; k < kKinds; ++k) may_[k] = text(k) || p.may_match_over(kAlphabets[k]);
  }
  // For a trimmed text compared exactly: every byte must be in the alphabet.
  explicit KindFilter(std::string_view want) {
    for (size_t k = 0; k < kKinds; ++k)
      may_[k] = text(k) || want.find_first_not_of(kAlphabets[k]) == std::string_view::npos;
  }
  bool may_match(ValueKind k) const { return may_[static_cast<size_t>(k)]; }

 private:
  static constexpr size_t kKinds = std::size(kAlphabets);
  static bool text(size_t k) { return k == static_cast<size_t>(ValueKind::kText); }
  bool may_[kKinds];
};

struct TrimmedEquals {
  TrimmedEquals(std::string_view w, const KindFilter& f) : want(w), kinds(f) {}
  bool operator()(const CellRecord& c) {
    return kinds.may_match(c.value().kind()) && trim_unicode_space(text(c)) == want;
  }
  std::string_view want;  // already trimmed
  const KindFilter& kinds;
  TextSource text;
};

// Matches the pattern against a record's value text. Texts other than
// kText values are ASCII by construction, so PCRE2 may skip its UTF-8 check.
struct PatternTest {
  PatternTest(const Pattern& p, const KindFilter& f) : matcher(p), kinds(f) {}
  bool operator()(const CellRecord& c) {
    ValueKind kind = c.value().kind();
    if (!kinds.may_match(kind)) return false;
    std::string_view t = text(c);
    return kind == ValueKind::kText ? matcher.matches(t) : matcher.matches_ascii(t);
  }
  Pattern::Matcher matcher;
  const KindFilter& kinds;
  TextSource text;
};

// A position test that guards a pattern test: the text is made and matched
// only for records that pass `where`.
template <class Where>
struct BoundedPatternTest {
  BoundedPatternTest(const Pattern& p, const KindFilter& f, Where w) : where(w), match(p, f) {}
  bool operator()(const CellRecord& c) { return where(c) && match(c); }
  Where where;
  PatternTest match;
};

// How many records ahead a scan asks for the next record's cache line, with
// intent to write (taking the shared lock writes to it). A scan is bound by
// these misses: the lock's atomic operations cannot overlap a miss, while
// prefetches can overlap each other.
constexpr size_t kPrefetchAhead = 8;

inline void prefetch_record(CellView seq, size_t i, size_t end) {
  if (i + kPrefetchAhead < end) __builtin_prefetch(seq[i + kPrefetchAhead], 1);
}

// The first-match shape over cell records: make_test() is called once per
// piece, the test once per record under the record's shared lock.
template <class MakeTest>
CellHit first_cell(CellView seq, MakeTest&& make_test) {
  std::optional<size_t> hit = pool::first_match(seq.size(), [&](size_t begin, size_t end) {
    auto test = make_test();
    for (size_t i = begin; i < end; ++i) {
      prefetch_record(seq, i, end);
      const CellRecord& c = *seq[i];
      std::shared_lock read(c.lock());
      if (test(c)) return i;
    }
    return end;
  });
  return hit ? &seq[*hit] : nullptr;
}

// The filtering shape over cell records: new handles to every record the
// test accepts, in sequence order. Only the hits gain a reference.
template <class MakeTest>
std::vector<CellRef> filter_cells(CellView seq, MakeTest&& make_test) {
  return pool::collect<CellRef>(
      seq.size(), [&](size_t begin, size_t end, std::vector<CellRef>& out) {
        auto test = make_test();
        for (size_t i = begin; i < end; ++i) {
          prefetch_record(seq, i, end);
          const CellRecord& c = *seq[i];
          bool keep;
          {
            std::shared_lock read(c.lock());
            keep = test(c);
          }
          if (keep) out.push_back(CellRef::share(seq[i]));
        }
      });
}

// The value texts of the records for which where(record) holds, one per
// record, in sequence order. The text is copied out under the record's lock.
template <class Where>
std::vector<std::string> collect_values(CellView seq, Where where) {
  return pool::collect<std::string>(
      seq.size(), [&](size_t begin, size_t end, std::vector<std::string>& out) {
        TextSource text;
        for (size_t i = begin; i < end; ++i) {
          prefetch_record(seq, i, end);
          const CellRecord& c = *seq[i];
          std::shared_lock read(c.lock());
          if (where(c)) out.emplace_back(text(c));
        }
      });
}

// A small set of numbers for membership tests: sorted, without repeats.
template <class T>
std::vector<T> sorted_unique(std::span<const T> values) {
  std::vector<T> v(values.begin(), values.end());
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

// The anchor scan: calls emit(position) for each marker, in order, until
// emit returns false. Sequential, on the calling thread.
template <class Emit>
Status anchor_scan(std::string_view before_regex, std::string_view after_regex, CellView seq,
                   Emit&& emit) {
  Result<Pattern> before = Pattern::compile(before_regex, true);
  if (!before.ok()) return before.status();
  Result<Pattern> after = Pattern::compile(after_regex, true);
  if (!after.ok()) return after.status();
  KindFilter before_kinds(*before), after_kinds(*after);
  PatternTest is_start(*before, before_kinds);
  PatternTest is_end(*after, after_kinds);
  bool open = false;
  for (size_t i = 0; i < seq.size(); ++i) {
    const CellRecord& c = *seq[i];
    bool marker;
    {
      std::shared_lock read(c.lock());
      if (!open && is_start(c)) {
        marker = true;  // a start marker is never tested as an end
      } else {
        marker = open && is_end(c);
      }
    }
    if (!marker) continue;
    open = !open;
    if (!emit(i)) break;
  }
  return Status::Ok();
}

}  // namespace detail

// ---- text, pattern, coordinate and letter searches ---------------------------

CellHit find_cell_by_str(std::string_view text, CellView seq) {
  std::string_view want = trim_unicode_space(text);
  detail::KindFilter kinds(want);
  return detail::first_cell(seq, [&] { return detail::TrimmedEquals(want, kinds); });
}

std::vector<CellRef> find_cells_by_str(std::string_view text, CellView seq) {
  std::string_view want = trim_unicode_space(text);
  detail::KindFilter kinds(want);
  return detail::filter_cells(seq, [&] { return detail::TrimmedEquals(want, kinds); });
}

Result<CellHit> find_cell_by_regex(std::string_view regex, CellView seq) {
  Result<Pattern> p = Pattern::compile(regex, true);
  if (!p.ok()) return p.status();
  const Pattern& pattern = *p;
  detail::KindFilter kinds(pattern);
  return detail::first_cell(seq, [&] { return detail::PatternTest(pattern, kinds); });
}

Result<std::vector<CellRef>> find_cells_by_regex(std::string_view regex, CellView seq) {
  Result<Pattern> p = Pattern::compile(regex, true);
  if (!p.ok()) return p.status();
  const Pattern& pattern = *p;
  detail::KindFilter kinds(pattern);
  return detail::filter_cells(seq, [&] { return detail::PatternTest(pattern, kinds); });
}

CellHit find_cell_by_coords(uint32_t row, uint16_t column, CellView seq) {
  return detail::first_cell(seq, [&] {
    return [row, column](const CellRecord& c) { return c.row() == row && c.column() == column; };
  });
}

std::optional<std::string> find_value_by_coords(uint32_t row, uint16_t column, CellView seq) {
  CellHit hit = find_cell_by_coords(row, column, seq);
  if (hit == nullptr) return std::nullopt;
  std::shared_lock read((*hit)->lock());
  ValueTextBuffer buf;
  return std::string(value_text((*hit)->value(), buf));
}

Result<CellHit> find_cell_by_letter(std::string_view letter, CellView seq) {
  Result<Coordinate> at = parse_letter(letter);
  if (!at.ok()) return at.status();
  return find_cell_by_coords(at->row, at->column, seq);
}

// ---- ranges, bounded scans and value lookups ---------------------------------

std::vector<CellRef> find_cells_range_rows(uint32_t start_row, uint32_t end_row, CellView seq) {
  if (start_row > end_row) return {};
  return detail::filter_cells(seq, [&] {
    return [start_row, end_row](const CellRecord& c) {
      return start_row <= c.row() && c.row() <= end_row;
    };
  });
}

std::vector<CellRef> find_cells_range_cols(uint16_t start_col, uint16_t end_col, CellView seq) {
  if (start_col > end_col) return {};
  return detail::filter_cells(seq, [&] {
    return [start_col, end_col](const CellRecord& c) {
      return start_col <= c.column() && c.column() <= end_col;
    };
  });
}

Result<std::vector<CellRef>> find_cells_for_cols_by_regex(std::string_view regex,
                                                          uint32_t row_stop, CellView seq) {
  Result<Pattern> p = Pattern::compile(regex, true);
  if (!p.ok()) return p.status();
  const Pattern& pattern = *p;
  auto where = [row_stop](const CellRecord& c) { return c.row() <= row_stop; };
  detail::KindFilter kinds(pattern);
  return detail::filter_cells(
      seq, [&] { return detail::BoundedPatternTest<decltype(where)>(pattern, kinds, where); });
}

Result<std::vector<CellRef>> find_cells_for_rows_by_regex(std::string_view regex,
                                                          uint16_t col_stop, CellView seq) {
  Result<Pattern> p = Pattern::compile(regex, true);
  if (!p.ok()) return p.status();
  const Pattern& pattern = *p;
  auto where = [col_stop](const CellRecord& c) { return c.column() <= col_stop; };
  detail::KindFilter kinds(pattern);
  return detail::filter_cells(
      seq, [&] { return detail::BoundedPatternTest<decltype(where)>(pattern, kinds, where); });
}

std::vector<std::string> find_values_by_col_rows(uint16_t column, std::span<const uint32_t> rows,
                                                 CellView seq) {
  if (rows.empty()) return {};
  std::vector<uint32_t> wanted = detail::sorted_unique(rows);
  return detail::collect_values(seq, [&](const CellRecord& c) {
    return c.column() == column && std::binary_search(wanted.begin(), wanted.end(), c.row());
  });
}

std::vector<std::string> find_values_by_row_cols(uint32_t row, std::span<const uint16_t> columns,
                                                 CellView seq) {
  if (columns.empty()) return {};
  std::vector<uint16_t> wanted = detail::sorted_unique(columns);
  return detail::collect_values(seq, [&](const CellRecord& c) {
    return c.row() == row && std::binary_search(wanted.begin(), wanted.end(), c.column());
  });
}

// ---- anchor searches -----------------------------------------------------------

Result<std::vector<CellRef>> find_cells_multi_regex(std::string_view before_regex,
                                                    std::string_view after_regex, CellView seq) {
  std::vector<CellRef> markers;
  Status s = detail::anchor_scan(before_regex, after_regex, seq, [&](size_t i) {
    markers.push_back(CellRef::share(seq[i]));
    return true;
  });
  if (!s.ok()) return s;
  return markers;
}

Result<std::vector<CellRef>> find_cells_between_regex(std::string_view before_regex,
                                                      std::string_view after_regex, CellView seq) {
  uint32_t rows[2];
  size_t found = 0;
  Status s = detail::anchor_scan(before_regex, after_regex, seq, [&](size_t i) {
    const CellRecord& c = *seq[i];
    std::shared_lock read(c.lock());
    rows[found++] = c.row();
    return found < 2;  // later pairs do not change the band
  });
  if (!s.ok()) return s;
  if (found == 0) return std::vector<CellRef>();
  uint32_t low = rows[0];
  uint32_t high = found == 2 ? rows[1] : UINT32_MAX;
  if (high < low) return std::vector<CellRef>();
  return find_cells_range_rows(low, high, seq);
}

// ---- rectangle selection ---------------------------------------------------------

CellRect CellRect::with_defaults(std::optional<uint32_t> start_row,
                                 std::optional<uint32_t> end_row,
                                 std::optional<uint16_t> start_col,
                                 std::optional<uint16_t> end_col) {
  CellRect r;
  if (start_row) r.start_row = *start_row;
  if (end_row) r.end_row = *end_row;
  if (start_col) r.start_col = *start_col;
  if (end_col) r.end_col = *end_col;
  return r;
}

std::vector<CellRef> select_range(CellView cells, const CellRect& rect) {
  using Entry = std::pair<uint64_t, CellRecord*>;
  std::vector<Entry> kept = pool::collect<Entry>(
      cells.size(), [&](size_t begin, size_t end, std::vector<Entry>& out) {
        for (size_t i = begin; i < end; ++i) {
          CellRecord* c = cells[i];
          std::shared_lock read(c->lock());
          if (rect.contains(c->row(), c->column())) out.emplace_back(c->key(), c);
        }
      });
  pool::sort_by_key(kept);
  std::vector<CellRef> result;
  result.reserve(kept.size());
  // The caller's span keeps every record alive; the result adds its own
  // reference to each.
  for (const Entry& e : kept) result.push_back(CellRef::share(e.second));
  return result;
}

void sort_by_position(std::vector<CellRef>& cells) {
  using Entry = std::pair<uint64_t, CellRecord*>;
  std::vector<Entry> keyed;
  keyed.reserve(cells.size());
  for (const CellRef& c : cells) keyed.emplace_back(c->key(), c.get());
  pool::sort_by_key(keyed);  // the only step that can throw (std::bad_alloc)
  // The references move from the handles to their new places: no count
  // changes.
  for (CellRef& c : cells) c.leak();
  for (size_t i = 0; i < keyed.size(); ++i) cells[i] = CellRef::adopt(keyed[i].second);
}

// ---- sheet searches of a finder ----------------------------------------------------

namespace {

template <class Test>
bool sheet_name_test(const SheetRef& sheet, Test& test) {
  std::shared_lock read(sheet->lock());
  return test(std::string_view(sheet->name));
}

std::vector<SheetRef> sheets_by_names(std::span<const std::string> names, SheetSpan sheets,
                                      bool listed) {
  absl::flat_hash_set<std::string_view> set(names.begin(), names.end());
  auto in_list = [&](std::string_view name) { return set.contains(name) == listed; };
  return pool::filter<SheetRef>(sheets,
                                [&](const SheetRef& s) { return sheet_name_test(s, in_list); });
}

}  // namespace

const SheetRef* find_sheet_by_name(std::string_view name, SheetSpan sheets) {
  auto equal = [name](std::string_view n) { return n == name; };
  std::optional<size_t> hit =
      pool::find_first(sheets, [&](const SheetRef& s) { return sheet_name_test(s, equal); });
  return hit ? &sheets[*hit] : nullptr;
}

Result<const SheetRef*> find_sheet_by_regex(std::string_view pattern, SheetSpan sheets) {
  Result<Pattern> p = Pattern::compile(pattern, false);
  if (!p.ok()) return p.status();
  const Pattern& compiled = *p;
  std::optional<size_t> hit = pool::first_match(sheets.size(), [&](size_t begin, size_t end) {
    Pattern::Matcher m(compiled);
    auto test = [&m](std::string_view name) { return m.matches(name); };
    for (size_t i = begin; i < end; ++i)
      if (sheet_name_test(sheets[i], test)) return i;
    return end;
  });
  return hit ? &sheets[*hit] : nullptr;
}

std::vector<SheetRef> sheets_with_names(std::span<const std::string> names, SheetSpan sheets) {
  if (names.empty()) return {};
  return sheets_by_names(names, sheets, true);
}

std::vector<SheetRef> sheets_without_names(std::span<const std::string> names, SheetSpan sheets) {
  return sheets_by_names(names, sheets, false);
}

}  // namespace qm
