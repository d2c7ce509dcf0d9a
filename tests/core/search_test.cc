#include "core/search.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tbb/task_arena.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/pattern.h"
#include "core/pool.h"
#include "core/text.h"

namespace qm {
namespace {

using pool::kPieceSize;
using pool::kSerialScanLimit;

constexpr size_t kNone = static_cast<size_t>(-1);

CellRef cell(uint32_t row, uint16_t col, CellValue v) {
  return make_ref<CellRecord>(row, col, std::move(v));
}
CellRef text_cell(uint32_t row, uint16_t col, std::string_view t) {
  return cell(row, col, CellValue::text(t));
}

std::string text_of(const CellRef& c) {
  std::shared_lock read(c->lock());
  return value_text_string(c->value());
}

std::vector<const CellRecord*> records(const std::vector<CellRef>& v) {
  std::vector<const CellRecord*> out;
  for (const CellRef& c : v) out.push_back(c.get());
  return out;
}

size_t index_in(CellHit hit, CellView seq) {
  return hit == nullptr ? kNone : static_cast<size_t>(hit - seq.data());
}

// Runs f with at most `workers` threads: an arena of that size (so "many"
// means more participants than the machine has cores) and a matching cap.
template <class F>
void with_workers(size_t workers, F&& f) {
  pool::WorkerLimit limit(workers);
  tbb::task_arena arena(static_cast<int>(workers));
  arena.execute(f);
}

// ---- sequential references --------------------------------------------------------

// Straightforward scans over the sequence, one record at a time.
template <class Pred>
size_t ref_first(CellSpan seq, Pred pred) {
  for (size_t i = 0; i < seq.size(); ++i)
    if (pred(seq[i])) return i;
  return kNone;
}

template <class Pred>
std::vector<const CellRecord*> ref_filter(CellSpan seq, Pred pred) {
  std::vector<const CellRecord*> out;
  for (const CellRef& c : seq)
    if (pred(c)) out.push_back(c.get());
  return out;
}

// Matches a pattern, with the cell searches' "(?i)" prefix, against a text.
struct RefRegex {
  explicit RefRegex(std::string_view regex) : pattern(Pattern::compile(regex, true).value()) {}
  bool operator()(const CellRef& c) {
    Pattern::Matcher m(pattern);
    return m.matches(text_of(c));
  }
  Pattern pattern;
};

// The anchor scan, written out plainly: the positions of the markers.
std::vector<size_t> ref_anchors(std::string_view before, std::string_view after, CellSpan seq) {
  RefRegex is_before(before), is_after(after);
  std::vector<size_t> out;
  bool open = false;
  for (size_t i = 0; i < seq.size(); ++i) {
    if (!open && is_before(seq[i])) {
      open = true;
      out.push_back(i);
    } else if (open && is_after(seq[i])) {
      open = false;
      out.push_back(i);
    }
  }
  return out;
}

// ---- random search sequences ------------------------------------------------------

CellValue random_value(std::mt19937& rng) {
  static const char* const kTexts[] = {
      "Total",  "  Total", "Total\t", "total", "Totals", "Subtotal", "",     " ",
      "\xC2\xA0Total\xE3\x80\x80",  // NBSP ... IDEOGRAPHIC SPACE
      "Begin",  "End",     "Ünïcödé", "ÉTÉ",   "a long text that is stored outside the value",
      "5",      "2.5",     "x",       "\xFF\xFE not UTF-8"};
  static const char* const kRare[] = {"Needle", "begin end"};
  std::uniform_int_distribution<int> kind(0, 99);
  int k = kind(rng);
  if (k < 40) return CellValue::text(kTexts[rng() % std::size(kTexts)]);
  if (k < 41) return CellValue::text(kRare[rng() % std::size(kRare)]);
  if (k < 60) {
    static const double kNumbers[] = {5.0,  2.5,  -0.0, 1e23, 0.1, -12.75, 1e-7, 42.0,
                                      NAN, INFINITY, -INFINITY};
    return CellValue::number(kNumbers[rng() % std::size(kNumbers)]);
  }
  if (k < 75) return CellValue::integer(static_cast<int32_t>(rng() % 200) - 100);
  if (k < 83) return CellValue::boolean(rng() % 2 == 0);
  if (k < 91) {
    DateTime::Fields f{2024, 3, 5, 7, 8, static_cast<uint8_t>(rng() % 60),
                       static_cast<uint32_t>(rng() % 2) * 500'000'000u};
    return CellValue::datetime(*DateTime::from_fields(f));
  }
  return CellValue::empty();
}

// n handles in no particular row order: about one in ten repeats an earlier
// handle, and coordinates collide often (few rows, eight columns).
std::vector<CellRef> random_sequence(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  uint32_t rows = static_cast<uint32_t>(n / 16 + 3);
  std::vector<CellRef> seq;
  seq.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && rng() % 10 == 0) {
      seq.push_back(seq[rng() % i]);
      continue;
    }
    seq.push_back(cell(1 + static_cast<uint32_t>(rng() % rows),
                       1 + static_cast<uint16_t>(rng() % 8), random_value(rng)));
  }
  return seq;
}

// ---- the pool shapes -------------------------------------------------------------

struct ShapeCase {
  size_t workers;
  size_t size;
};

class PoolShapeTest : public ::testing::TestWithParam<ShapeCase> {};

// The first-match shape returns the first hit whichever piece it lies in and
// however many hits follow it; collect keeps every item in order.
TEST_P(PoolShapeTest, SameAsSequential) {
  const ShapeCase& c = GetParam();
  with_workers(c.workers, [&] {
    const size_t n = c.size;
    std::vector<size_t> firsts = {0, 1, kPieceSize - 1, kPieceSize, kPieceSize + 1, n / 2,
                                  n - 1, n};
    for (size_t first : firsts) {
      if (n == 0 || first > n) continue;
      // Hits at `first` and at every seventh position after it.
      auto hit = [first](size_t i) { return i >= first && (i - first) % 7 == 0; };
      std::optional<size_t> got = pool::first_match(n, [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i)
          if (hit(i)) return i;
        return e;
      });
      if (first < n) {
        ASSERT_TRUE(got.has_value()) << first;
        EXPECT_EQ(*got, first);
      } else {
        EXPECT_FALSE(got.has_value());
      }
    }
    std::vector<size_t> items(n);
    for (size_t i = 0; i < n; ++i) items[i] = i * 3;
    std::vector<size_t> odd = pool::filter<size_t>(items, [](size_t v) { return v % 2 == 1; });
    std::vector<size_t> expect;
    for (size_t v : items)
      if (v % 2 == 1) expect.push_back(v);
    EXPECT_EQ(odd, expect);
    std::vector<std::string> mapped =
        pool::filter_map<std::string>(std::span<const size_t>(items), [](size_t v) {
          return v % 5 == 0 ? std::optional<std::string>(std::to_string(v)) : std::nullopt;
        });
    std::vector<std::string> expect_mapped;
    for (size_t v : items)
      if (v % 5 == 0) expect_mapped.push_back(std::to_string(v));
    EXPECT_EQ(mapped, expect_mapped);
    EXPECT_EQ(pool::find_first<size_t>(items, [](size_t) { return false; }), std::nullopt);
  });
}

std::vector<ShapeCase> shape_cases() {
  std::vector<ShapeCase> out;
  for (size_t w : {1, 2, 8})
    for (size_t n : {size_t{0}, size_t{1}, kSerialScanLimit - 1, kSerialScanLimit,
                     kSerialScanLimit + 1, 3 * kPieceSize - 1, 3 * kPieceSize,
                     3 * kPieceSize + 1, size_t{50'000}})
      out.push_back({w, n});
  return out;
}

std::string shape_name(const ::testing::TestParamInfo<ShapeCase>& info) {
  return "w" + std::to_string(info.param.workers) + "_n" + std::to_string(info.param.size);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PoolShapeTest, ::testing::ValuesIn(shape_cases()), shape_name);

TEST(PoolTest, WorkerLimitCapsWorkerCount) {
  {
    pool::WorkerLimit one(1);
    EXPECT_EQ(pool::worker_count(), 1u);
  }
  with_workers(2, [] { EXPECT_EQ(pool::worker_count(), 2u); });
}

// ---- every operation against its reference ------------------------------------

class SearchEquivalenceTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(SearchEquivalenceTest, SameAsSequentialReference) {
  const ShapeCase& p = GetParam();
  std::vector<CellRef> owned = random_sequence(p.size, static_cast<uint32_t>(p.size * 31 + 7));
  CellSpan seq(owned);
  with_workers(p.workers, [&] {
    for (const char* text : {"Total", "  Total ", "", "5", "true", "Needle", "absent", "NaN",
                             " -inf", "2024-03-05 07:08:01.500", "-12.75", "false", "-0"}) {
      std::string want(trim_unicode_space(text));
      auto pred = [&](const CellRef& c) { return trim_unicode_space(text_of(c)) == want; };
      EXPECT_EQ(index_in(find_cell_by_str(text, seq), seq), ref_first(seq, pred)) << text;
      EXPECT_EQ(records(find_cells_by_str(text, seq)), ref_filter(seq, pred)) << text;
    }
    // Among them patterns that only numbers, booleans, dates or empty values
    // can match, for the per-kind skip.
    for (const char* regex : {"tot", "^total$", "\\d\\.5", "^$", "é", "2024-03-05 07:08:1",
                              "needle", "^\\w+$", "t(?=o)", "nan", "^-INF", "e$", "^fal", ":",
                              "a", "\\.", "k|0", "(?-i)N", "^(?:x|-)", "\\x{212A}"}) {
      RefRegex pred(regex);
      Result<CellHit> first = find_cell_by_regex(regex, seq);
      ASSERT_TRUE(first.ok()) << regex;
      EXPECT_EQ(index_in(*first, seq), ref_first(seq, std::ref(pred))) << regex;
      Result<std::vector<CellRef>> all = find_cells_by_regex(regex, seq);
      ASSERT_TRUE(all.ok()) << regex;
      EXPECT_EQ(records(*all), ref_filter(seq, std::ref(pred))) << regex;

      auto rows = find_cells_for_cols_by_regex(regex, 4, seq);
      ASSERT_TRUE(rows.ok());
      EXPECT_EQ(records(*rows), ref_filter(seq, [&](const CellRef& c) {
                  return c->row() <= 4 && pred(c);
                })) << regex;
      auto cols = find_cells_for_rows_by_regex(regex, 3, seq);
      ASSERT_TRUE(cols.ok());
      EXPECT_EQ(records(*cols), ref_filter(seq, [&](const CellRef& c) {
                  return c->column() <= 3 && pred(c);
                })) << regex;
    }
    uint32_t last_row = static_cast<uint32_t>(p.size / 16 + 3);
    for (auto [row, col] : {std::pair<uint32_t, uint16_t>{1, 1}, {3, 2}, {last_row, 8},
                            {last_row + 1, 1}, {0, 0}}) {
      auto at = [&](const CellRef& c) { return c->row() == row && c->column() == col; };
      size_t expect = ref_first(seq, at);
      EXPECT_EQ(index_in(find_cell_by_coords(row, col, seq), seq), expect);
      std::optional<std::string> value = find_value_by_coords(row, col, seq);
      EXPECT_EQ(value.has_value(), expect != kNone);
      if (value) {
        EXPECT_EQ(*value, text_of(seq[expect]));
      }
    }
    Result<CellHit> by_letter = find_cell_by_letter("$c$2", seq);
    ASSERT_TRUE(by_letter.ok());
    EXPECT_EQ(index_in(*by_letter, seq), ref_first(seq, [](const CellRef& c) {
                return c->row() == 2 && c->column() == 3;
              }));
    for (auto [lo, hi] : {std::pair<uint32_t, uint32_t>{3, 3}, {2, last_row / 2}, {5, 3}}) {
      EXPECT_EQ(records(find_cells_range_rows(lo, hi, seq)), ref_filter(seq, [&](const CellRef& c) {
                  return lo <= c->row() && c->row() <= hi;
                }));
    }
    for (auto [lo, hi] : {std::pair<uint16_t, uint16_t>{2, 2}, {3, 7}, {6, 1}}) {
      EXPECT_EQ(records(find_cells_range_cols(lo, hi, seq)), ref_filter(seq, [&](const CellRef& c) {
                  return lo <= c->column() && c->column() <= hi;
                }));
    }
    const uint32_t rows_list[] = {5, 1, 5, 2};
    const uint16_t cols_list[] = {3, 1, 3};
    std::vector<std::string> expect_values;
    for (const CellRef& c : seq)
      if (c->column() == 2 && (c->row() == 1 || c->row() == 2 || c->row() == 5))
        expect_values.push_back(text_of(c));
    EXPECT_EQ(find_values_by_col_rows(2, rows_list, seq), expect_values);
    expect_values.clear();
    for (const CellRef& c : seq)
      if (c->row() == 2 && (c->column() == 1 || c->column() == 3))
        expect_values.push_back(text_of(c));
    EXPECT_EQ(find_values_by_row_cols(2, cols_list, seq), expect_values);

    for (auto [before, after] : {std::pair<const char*, const char*>{"^begin", "end$"},
                                 {"needle", "^x$"}, {"^5$", "^5$"}}) {
      std::vector<size_t> anchors = ref_anchors(before, after, seq);
      auto multi = find_cells_multi_regex(before, after, seq);
      ASSERT_TRUE(multi.ok());
      std::vector<const CellRecord*> expect_markers;
      for (size_t i : anchors) expect_markers.push_back(seq[i].get());
      EXPECT_EQ(records(*multi), expect_markers) << before;
      auto between = find_cells_between_regex(before, after, seq);
      ASSERT_TRUE(between.ok());
      std::vector<const CellRecord*> expect_band;
      if (!anchors.empty()) {
        uint32_t lo = seq[anchors[0]]->row();
        uint32_t hi = anchors.size() > 1 ? seq[anchors[1]]->row() : UINT32_MAX;
        expect_band = ref_filter(seq, [&](const CellRef& c) {
          return lo <= c->row() && c->row() <= hi;
        });
      }
      EXPECT_EQ(records(*between), expect_band) << before;
    }

    CellRect rect{2, last_row / 2 + 1, 2, 5};
    std::vector<CellRef> selected = select_range(seq, rect);
    std::vector<std::pair<uint64_t, const CellRecord*>> expect_rect;
    for (const CellRef& c : seq)
      if (rect.contains(c->row(), c->column())) expect_rect.emplace_back(c->key(), c.get());
    // Records sharing a coordinate may come in any order: compare the keys
    // in order and the records as a set.
    std::vector<std::pair<uint64_t, const CellRecord*>> got_rect;
    for (const CellRef& c : selected) got_rect.emplace_back(c->key(), c.get());
    for (size_t i = 1; i < got_rect.size(); ++i)
      EXPECT_LE(got_rect[i - 1].first, got_rect[i].first);
    std::sort(expect_rect.begin(), expect_rect.end());
    std::sort(got_rect.begin(), got_rect.end());
    EXPECT_EQ(got_rect, expect_rect);
  });
}

std::vector<ShapeCase> equivalence_cases() {
  std::vector<ShapeCase> out;
  for (size_t w : {1, 2, 8})
    for (size_t n : {size_t{0}, size_t{1}, size_t{17}, kSerialScanLimit - 1, kSerialScanLimit,
                     kSerialScanLimit + 1, 3 * kPieceSize + 1, size_t{20'000}})
      out.push_back({w, n});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Sizes, SearchEquivalenceTest, ::testing::ValuesIn(equivalence_cases()),
                         shape_name);

// A hit placed in a late piece, behind a sequence that otherwise never
// matches, is found by every worker count (the skip of later pieces must not
// skip earlier ones).
TEST(SearchTest, FirstMatchInLatePiece) {
  for (size_t workers : {1, 2, 8}) {
    std::vector<CellRef> seq;
    for (size_t i = 0; i < 10 * kPieceSize; ++i) seq.push_back(text_cell(1, 1, "hay"));
    for (size_t pos : {9 * kPieceSize + 3, 4 * kPieceSize, kPieceSize - 1}) {
      seq[pos] = text_cell(2, 2, "Needle");
      seq[pos + 1] = text_cell(2, 2, "Needle");
      with_workers(workers, [&] {
        EXPECT_EQ(index_in(find_cell_by_str("Needle", seq), seq), pos);
        EXPECT_EQ(index_in(find_cell_by_coords(2, 2, seq), seq), pos);
        Result<CellHit> r = find_cell_by_regex("^needle$", seq);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(index_in(*r, seq), pos);
      });
    }
  }
}

// ---- edge cases ------------------------------------------------------------------

struct StrCase {
  const char* name;
  CellValue value;
  const char* find;
  bool found;
};

TEST(SearchTest, FindByStrTrimsAndComparesExactly) {
  const StrCase cases[] = {
      {"plain", CellValue::text("Total"), "  Total ", true},
      {"leading blank", CellValue::text(" Total"), "  Total ", true},
      {"trailing tab", CellValue::text("Total\t"), "  Total ", true},
      {"unicode spaces", CellValue::text("\xC2\xA0Total\xE2\x80\xA8"), "Total", true},
      {"lower case", CellValue::text("total"), "  Total ", false},
      {"longer word", CellValue::text("Totals"), "  Total ", false},
      {"inner space kept", CellValue::text("To tal"), "Total", false},
      {"number 5.0 as 5", CellValue::number(5.0), "5", true},
      {"number 5.0 not as 5.0", CellValue::number(5.0), "5.0", false},
      {"boolean", CellValue::boolean(true), "true", true},
      {"boolean case", CellValue::boolean(true), "TRUE", false},
      {"empty by empty", CellValue::empty(), "", true},
      {"empty by blanks", CellValue::empty(), " \t", true},
      {"blank text by empty", CellValue::text(" \xE3\x80\x80"), "", true},
      {"integer", CellValue::integer(-12), "-12", true},
  };
  for (const StrCase& c : cases) {
    std::vector<CellRef> seq = {text_cell(9, 9, "other"), cell(1, 1, c.value)};
    EXPECT_EQ(find_cell_by_str(c.find, seq) != nullptr, c.found) << c.name;
    EXPECT_EQ(find_cells_by_str(c.find, seq).size(), c.found ? 1u : 0u) << c.name;
  }
}

struct RegexCase {
  const char* regex;
  const char* text;
  bool found;
};

TEST(SearchTest, FindByRegexIgnoresCaseAndIsUnanchored) {
  const RegexCase cases[] = {
      {"^total$", "TOTAL", true},
      {"tot", "Subtotal", true},
      {"^tot", "Subtotal", false},
      {"été", "ÉTÉ", true},          // caseless beyond ASCII
      {"^\\w+$", "Ünïcödé", true},    // Unicode classes
      {"(?-i)^total$", "TOTAL", false},  // the pattern may turn case back on
      {"^$", "", true},
      {"b", "\xFF" "abc", false},     // invalid UTF-8: no match, no crash
      {"(?<=sub)total", "SUBTOTAL", true},
      {"(a)\\1", "xAAy", true},
  };
  for (const RegexCase& c : cases) {
    std::vector<CellRef> seq = {text_cell(1, 1, c.text)};
    Result<CellHit> r = find_cell_by_regex(c.regex, seq);
    ASSERT_TRUE(r.ok()) << c.regex;
    EXPECT_EQ(*r != nullptr, c.found) << c.regex << " on " << c.text;
  }
  // Non-text values are matched through their value text.
  std::vector<CellRef> seq = {cell(1, 1, CellValue::number(0.1)), cell(1, 2, CellValue::boolean(false))};
  Result<std::vector<CellRef>> r = find_cells_by_regex("^(0\\.1|FALSE)$", seq);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->size(), 2u);
}

TEST(SearchTest, InvalidPatternsAreReportedWithOffsets) {
  std::vector<CellRef> seq = {text_cell(1, 1, "(")};
  Result<std::vector<CellRef>> all = find_cells_by_regex("(", seq);
  ASSERT_FALSE(all.ok());
  EXPECT_EQ(all.status().code(), ErrorCode::kPattern);
  // The offset counts the four characters of the "(?i)" prefix.
  EXPECT_EQ(all.status().message(), "missing closing parenthesis at offset 5");
  Result<CellHit> first = find_cell_by_regex("a[", seq);
  ASSERT_FALSE(first.ok());
  EXPECT_EQ(first.status().message(), "missing terminating ] for character class at offset 6");
  EXPECT_FALSE(find_cells_for_cols_by_regex("(", 1, seq).ok());
  EXPECT_FALSE(find_cells_for_rows_by_regex("(", 1, seq).ok());

  // Both anchor patterns invalid: the before pattern's error is reported.
  for (auto [before, after, expect] :
       {std::tuple<const char*, const char*, const char*>{
            "(", "a[", "missing closing parenthesis at offset 5"},
        {"ok", "a[", "missing terminating ] for character class at offset 6"}}) {
    auto multi = find_cells_multi_regex(before, after, seq);
    ASSERT_FALSE(multi.ok());
    EXPECT_EQ(multi.status().message(), expect);
    auto between = find_cells_between_regex(before, after, seq);
    ASSERT_FALSE(between.ok());
    EXPECT_EQ(between.status().message(), expect);
  }
}

TEST(PatternTest, CompilesWithAndWithoutPrefix) {
  Result<Pattern> sensitive = Pattern::compile("^a", false);
  ASSERT_TRUE(sensitive.ok());
  Pattern::Matcher m = sensitive->matcher();
  EXPECT_TRUE(m.matches("alpha"));
  EXPECT_FALSE(m.matches("Alpha"));
  Result<Pattern> bad = Pattern::compile("(", false);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.status().message(), "missing closing parenthesis at offset 1");
  Result<Pattern> invalid_utf8 = Pattern::compile("\xFF", true);
  ASSERT_FALSE(invalid_utf8.ok());
  EXPECT_EQ(invalid_utf8.status().code(), ErrorCode::kPattern);
}

struct AlphabetCase {
  const char* regex;
  const char* alphabet;
  bool may_match;
};

// may_match_over may say "may" too often, never "cannot" wrongly: every case
// marked true has a subject over its alphabet that the pattern matches.
TEST(PatternTest, MayMatchOverAlphabets) {
  const AlphabetCase cases[] = {
      {"total", "0123456789.-Nainf", false},
      {"nan", "0123456789.-Nainf", true},  // "(?i)" makes NaN reachable
      {"x|1", "0123456789", true},
      {"[xy]z", "0123456789", false},
      {"^$", "", true},
      {"a?", "", true},
      {"a", "", false},
      {"\\x{212A}", "k", true},  // the Kelvin sign matches k without case
      {"\\x{17F}", "s", true},   // and the long s matches s
  };
  for (const AlphabetCase& c : cases) {
    Result<Pattern> p = Pattern::compile(c.regex, true);
    ASSERT_TRUE(p.ok()) << c.regex;
    if (!c.may_match) {
      EXPECT_FALSE(p->may_match_over(c.alphabet)) << c.regex;
    } else {
      EXPECT_TRUE(p->may_match_over(c.alphabet)) << c.regex;
    }
  }
}

// A pattern that backtracks exponentially gives up on the hopeless subject
// (counted as no match) and the search goes on to the next record.
TEST(SearchTest, CatastrophicPatternEndsAsNoMatch) {
  std::string hopeless(40, 'a');
  hopeless += 'b';
  std::vector<CellRef> seq = {text_cell(1, 1, hopeless), text_cell(2, 1, "aaa"),
                              text_cell(3, 1, hopeless)};
  Result<std::vector<CellRef>> r = find_cells_by_regex("(a+)+$", seq);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r->size(), 1u);
  EXPECT_EQ((*r)[0].get(), seq[1].get());
}

// Long subjects that need more than PCRE2's default JIT stack still match.
TEST(PatternTest, LongSubjectGetsABiggerJitStack) {
  Result<Pattern> p = Pattern::compile("^(?:a|b)*c$", true);
  ASSERT_TRUE(p.ok());
  std::string subject(200'000, 'a');
  subject += 'c';
  Pattern::Matcher m = p->matcher();
  EXPECT_TRUE(m.matches(subject));
}

TEST(SearchTest, CoordinatesLettersAndValues) {
  std::vector<CellRef> seq = {
      text_cell(1, 1, "a"),  cell(3, 2, CellValue::integer(-12)), text_cell(3, 2, "second"),
      cell(4, 4, CellValue::empty()),
  };
  EXPECT_EQ(index_in(find_cell_by_coords(3, 2, seq), seq), 1u);  // first in sequence order
  Result<CellHit> letter = find_cell_by_letter("$b$3", seq);
  ASSERT_TRUE(letter.ok());
  EXPECT_EQ(index_in(*letter, seq), 1u);
  for (const char* refused : {"B", "12", ""}) {
    Result<CellHit> r = find_cell_by_letter(refused, seq);
    ASSERT_FALSE(r.ok()) << refused;
    EXPECT_EQ(r.status().code(), ErrorCode::kLetter);
  }
  EXPECT_EQ(find_value_by_coords(3, 2, seq), std::optional<std::string>("-12"));
  EXPECT_EQ(find_value_by_coords(4, 4, seq), std::optional<std::string>(""));
  EXPECT_EQ(find_value_by_coords(5, 5, seq), std::nullopt);
}

TEST(SearchTest, RangesBoundsAndValueLookups) {
  std::vector<CellRef> seq;
  for (uint32_t r = 1; r <= 12; ++r)
    for (uint16_t c = 1; c <= 3; ++c) seq.push_back(text_cell(r, c, "match"));
  EXPECT_EQ(find_cells_range_rows(3, 3, seq).size(), 3u);
  EXPECT_TRUE(find_cells_range_rows(5, 3, seq).empty());
  EXPECT_TRUE(find_cells_range_cols(3, 1, seq).empty());
  auto upto10 = find_cells_for_cols_by_regex("match", 10, seq);
  ASSERT_TRUE(upto10.ok());
  EXPECT_EQ(upto10->size(), 30u);
  for (const CellRef& c : *upto10) EXPECT_LE(c->row(), 10u);
  auto upto2 = find_cells_for_rows_by_regex("match", 2, seq);
  ASSERT_TRUE(upto2.ok());
  EXPECT_EQ(upto2->size(), 24u);

  // Sequence order, one text per record, whatever the list's order and repeats.
  std::vector<CellRef> lookup = {text_cell(1, 2, "Alpha"), cell(5, 2, CellValue::number(7.0))};
  const uint32_t rows[] = {5, 1, 5};
  EXPECT_EQ(find_values_by_col_rows(2, rows, lookup), (std::vector<std::string>{"Alpha", "7"}));
  const uint16_t cols[] = {2, 2};
  EXPECT_EQ(find_values_by_row_cols(5, cols, lookup), (std::vector<std::string>{"7"}));
  EXPECT_TRUE(find_values_by_row_cols(5, std::span<const uint16_t>(), lookup).empty());
}

struct AnchorCase {
  const char* name;
  std::vector<std::pair<uint32_t, const char*>> cells;  // (row, text) in sequence order
  const char* before;
  const char* after;
  std::vector<size_t> markers;  // positions returned by find_cells_multi_regex
  std::vector<size_t> band;     // positions returned by find_cells_between_regex
};

TEST(SearchTest, AnchorScansAndBands) {
  const AnchorCase cases[] = {
      {"two pairs",
       {{1, "x"}, {2, "Begin"}, {3, "x"}, {5, "End"}, {6, "x"}, {8, "Begin"}, {9, "End"}},
       "Begin", "End", {1, 3, 5, 6}, {1, 2, 3}},
      {"start only: band without upper limit",
       {{1, "x"}, {4, "begin"}, {7, "x"}, {900, "x"}}, "Begin", "End", {1}, {1, 2, 3}},
      {"end without start", {{1, "End"}, {2, "x"}}, "Begin", "End", {}, {}},
      {"end before every start is ignored",
       {{1, "End"}, {2, "Begin"}, {3, "x"}, {4, "End"}}, "Begin", "End", {1, 3}, {1, 2, 3}},
      {"start and end in one row", {{2, "x"}, {3, "Begin"}, {3, "End"}, {4, "x"}}, "Begin",
       "End", {1, 2}, {1, 2}},
      {"matching both: start when closed, end when open",
       {{1, "BE"}, {2, "x"}, {3, "BE"}, {4, "BE"}}, "B", "E", {0, 2, 3}, {0, 1, 2}},
      {"inverted band is empty", {{9, "Begin"}, {2, "End"}, {5, "x"}}, "Begin", "End", {0, 1},
       {}},
      {"start again while open is only an end candidate",
       {{1, "Begin"}, {2, "Begin"}, {3, "End"}}, "Begin", "End", {0, 2}, {0, 1, 2}},
      {"empty sequence", {}, "Begin", "End", {}, {}},
  };
  for (const AnchorCase& c : cases) {
    std::vector<CellRef> seq;
    for (auto [row, text] : c.cells) seq.push_back(text_cell(row, 1, text));
    auto positions = [&](const std::vector<CellRef>& got) {
      std::vector<size_t> out;
      for (const CellRef& g : got)
        for (size_t i = 0; i < seq.size(); ++i)
          if (seq[i].get() == g.get()) out.push_back(i);
      return out;
    };
    auto multi = find_cells_multi_regex(c.before, c.after, seq);
    ASSERT_TRUE(multi.ok()) << c.name;
    EXPECT_EQ(positions(*multi), c.markers) << c.name;
    auto between = find_cells_between_regex(c.before, c.after, seq);
    ASSERT_TRUE(between.ok()) << c.name;
    EXPECT_EQ(positions(*between), c.band) << c.name;
  }
}

TEST(SearchTest, EmptySequenceFindsNothing) {
  CellSpan none;
  EXPECT_EQ(find_cell_by_str("", none), nullptr);
  EXPECT_TRUE(find_cells_by_str("", none).empty());
  EXPECT_EQ(*find_cell_by_regex("", none), nullptr);
  EXPECT_TRUE(find_cells_by_regex("", none)->empty());
  EXPECT_EQ(find_cell_by_coords(1, 1, none), nullptr);
  EXPECT_EQ(find_value_by_coords(1, 1, none), std::nullopt);
  EXPECT_EQ(*find_cell_by_letter("A1", none), nullptr);
  EXPECT_TRUE(find_cells_range_rows(0, UINT32_MAX, none).empty());
  EXPECT_TRUE(find_cells_multi_regex("", "", none)->empty());
  EXPECT_TRUE(find_cells_between_regex("", "", none)->empty());
  EXPECT_TRUE(select_range(none, CellRect{}).empty());
}

TEST(SearchTest, SelectRangeSortsByRowThenColumn) {
  std::vector<CellRef> cells = {text_cell(2'000'000, 1, "far"), text_cell(5, 3, "c5"),
                                text_cell(1, 3, "c1"),           text_cell(5, 1, "a5"),
                                text_cell(1, 16385, "past XFD"), text_cell(0, 1, "row 0")};
  auto texts = [](const std::vector<CellRef>& v) {
    std::vector<std::string> out;
    for (const CellRef& c : v) out.push_back(text_of(c));
    return out;
  };
  CellRect all = CellRect::with_defaults(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(texts(select_range(cells, all)), (std::vector<std::string>{"c1", "a5", "c5"}));
  CellRect far = CellRect::with_defaults(std::nullopt, 2'000'000, std::nullopt, std::nullopt);
  EXPECT_EQ(texts(select_range(cells, far)),
            (std::vector<std::string>{"c1", "a5", "c5", "far"}));
  CellRect col_c = CellRect::with_defaults(std::nullopt, std::nullopt, 3, 3);
  EXPECT_EQ(texts(select_range(cells, col_c)), (std::vector<std::string>{"c1", "c5"}));
}

// ---- finder sheet searches ------------------------------------------------------

std::vector<SheetRef> sheets_named(std::initializer_list<const char*> names) {
  std::vector<SheetRef> out;
  for (const char* n : names) out.push_back(SheetRecord::create(n, "visible"));
  return out;
}

TEST(FinderSearchTest, NamesAndPatterns) {
  std::vector<SheetRef> sheets = sheets_named({"Alpha", "Beta", "alpha"});
  auto pos = [&](const SheetRef* s) { return s == nullptr ? kNone : size_t(s - sheets.data()); };
  EXPECT_EQ(pos(find_sheet_by_name("alpha", sheets)), 2u);
  EXPECT_EQ(pos(find_sheet_by_name("ALPHA", sheets)), kNone);
  const std::pair<const char*, size_t> regex_cases[] = {
      {"^a", 2}, {"(?i)^a", 0}, {"ta", 1}, {"^z", kNone}};
  for (auto [pattern, expect] : regex_cases) {
    Result<const SheetRef*> r = find_sheet_by_regex(pattern, sheets);
    ASSERT_TRUE(r.ok()) << pattern;
    EXPECT_EQ(pos(*r), expect) << pattern;
  }
  Result<const SheetRef*> bad = find_sheet_by_regex("(", sheets);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.status().message(), "missing closing parenthesis at offset 1");

  auto names = [](const std::vector<SheetRef>& v) {
    std::vector<std::string> out;
    for (const SheetRef& s : v) out.push_back(s->name);
    return out;
  };
  const std::string with[] = {"alpha", "Beta", "Beta", "nobody"};
  EXPECT_EQ(names(sheets_with_names(with, sheets)), (std::vector<std::string>{"Beta", "alpha"}));
  const std::string without[] = {"Beta"};
  EXPECT_EQ(names(sheets_without_names(without, sheets)),
            (std::vector<std::string>{"Alpha", "alpha"}));
  EXPECT_TRUE(sheets_with_names({}, sheets).empty());
  EXPECT_EQ(sheets_without_names({}, sheets).size(), 3u);

  std::vector<SheetRef> twice = sheets_named({"Data", "Other", "Data"});
  EXPECT_EQ(find_sheet_by_name("Data", twice), &twice[0]);
  const std::string data[] = {"Data"};
  EXPECT_EQ(sheets_with_names(data, twice).size(), 2u);
  EXPECT_EQ(find_sheet_by_name("Data", SheetSpan()), nullptr);
}

// Many sheets, so the sheet searches run on the pool.
TEST(FinderSearchTest, ManySheetsMatchSequentialOrder) {
  std::vector<SheetRef> sheets;
  for (size_t i = 0; i < 3 * kPieceSize; ++i)
    sheets.push_back(SheetRecord::create("S" + std::to_string(i % 1000), "visible"));
  with_workers(2, [&] {
    EXPECT_EQ(find_sheet_by_name("S999", sheets), &sheets[999]);
    Result<const SheetRef*> r = find_sheet_by_regex("^S99[89]$", sheets);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, &sheets[998]);
    const std::string listed[] = {"S5"};
    std::vector<SheetRef> got = sheets_with_names(listed, sheets);
    ASSERT_EQ(got.size(), 4u);
    for (size_t k = 0; k < got.size(); ++k) EXPECT_EQ(got[k].get(), sheets[5 + 1000 * k].get());
  });
}

// ---- concurrency -------------------------------------------------------------------

// Readers search while a writer keeps switching every record between three
// values (two long heap texts and a number). A torn read would show a text
// that is none of the three - or touch freed memory, which the sanitizer run
// catches - so every search must see every record as one of them.
TEST(SearchConcurrencyTest, ReadersNeverSeeTornValues) {
  const std::string a(40, 'a'), b(40, 'b');
  const CellValue values[] = {CellValue::text(a), CellValue::text(b), CellValue::number(7.25)};
  std::vector<CellRef> seq;
  for (size_t i = 0; i < 3 * kPieceSize; ++i) seq.push_back(cell(1, 1, values[i % 3]));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    size_t k = 0;
    while (!done.load(std::memory_order_relaxed)) {
      for (const CellRef& c : seq) {
        std::unique_lock write(c->lock());
        c->assign_value(values[k++ % 3]);
      }
    }
  });
  const std::string pattern = "^(?:" + a + "|" + b + "|7\\.25)$";
  const uint32_t row1[] = {1};
  for (int round = 0; round < 60; ++round) {
    Result<std::vector<CellRef>> all = find_cells_by_regex(pattern, seq);
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(all->size(), seq.size()) << "round " << round;
    size_t by_str = find_cells_by_str(a, seq).size() + find_cells_by_str(b, seq).size() +
                    find_cells_by_str("7.25", seq).size();
    // Values change between the three searches, so only a bound holds here;
    // the per-value check below is exact.
    EXPECT_GT(by_str, 0u);
    for (const std::string& v : find_values_by_col_rows(1, row1, seq))
      ASSERT_TRUE(v == a || v == b || v == "7.25") << v;
  }
  done = true;
  writer.join();
}

// A child forked after the parent searched on the pool searches correctly on
// its calling thread and does not wait for workers that fork did not copy.
TEST(SearchForkTest, ChildOfAForkSearchesSerially) {
  std::vector<CellRef> seq;
  for (size_t i = 0; i < 20 * kPieceSize; ++i)
    seq.push_back(text_cell(static_cast<uint32_t>(i), 1, i % 3 == 0 ? "Total" : "x"));
  const size_t expect = (seq.size() + 2) / 3;
  ASSERT_TRUE(pool::parallel_allowed());
  ASSERT_EQ(find_cells_by_regex("tot", seq)->size(), expect);  // starts the workers
  pid_t pid = fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    alarm(30);  // a hang ends the child with SIGALRM, which the parent reports
    bool ok = !pool::parallel_allowed() && pool::worker_count() == 1;
    Result<std::vector<CellRef>> r = find_cells_by_regex("tot", seq);
    ok = ok && r.ok() && r->size() == expect;
    ok = ok && index_in(find_cell_by_str("x", seq), seq) == 1;
    ok = ok && find_cells_range_rows(10, 19, seq).size() == 10;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "child killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The parent still searches in parallel afterwards.
  EXPECT_TRUE(pool::parallel_allowed());
  EXPECT_EQ(find_cells_by_regex("tot", seq)->size(), expect);
}

TEST(CellViewTest, RawPointersAndHandlesSearchAlike) {
  std::vector<CellRef> owned = random_sequence(5000, 99);
  owned[4000] = text_cell(2, 2, "needle");
  std::vector<CellRecord*> raw;
  for (const CellRef& c : owned) raw.push_back(c.get());
  CellView from_handles(owned), from_raw(raw);
  ASSERT_EQ(from_handles.size(), owned.size());
  for (size_t i = 0; i < owned.size(); ++i) ASSERT_EQ(from_handles[i], owned[i].get());

  Result<CellHit> hit = find_cell_by_regex("needle", from_handles);
  ASSERT_TRUE(hit.ok() && *hit != nullptr);
  EXPECT_EQ(hit_handle(*hit), &owned[static_cast<size_t>(*hit - from_handles.data())]);
  Result<CellHit> raw_hit = find_cell_by_regex("needle", from_raw);
  EXPECT_EQ(*raw_hit - from_raw.data(), *hit - from_handles.data());

  Result<std::vector<CellRef>> a = find_cells_by_regex("tot", from_raw);
  Result<std::vector<CellRef>> b = find_cells_by_regex("tot", from_handles);
  ASSERT_TRUE(a.ok() && b.ok());
  ASSERT_FALSE(a->empty());
  EXPECT_EQ(records(*a), records(*b));
  // A record listed k times is held k times by each of `owned`, a and b:
  // the scan itself kept nothing.
  for (const CellRef& c : *a) {
    auto k = static_cast<uint32_t>(std::count(owned.begin(), owned.end(), c));
    EXPECT_EQ(c->use_count(), 3 * k);
  }
}

TEST(CellViewTest, SortByPositionOrdersAndKeepsReferences) {
  std::vector<CellRef> owned = random_sequence(3000, 5);
  std::vector<CellRef> hits = owned;
  sort_by_position(hits);
  ASSERT_EQ(hits.size(), owned.size());
  for (size_t i = 1; i < hits.size(); ++i) EXPECT_LE(hits[i - 1]->key(), hits[i]->key());
  std::vector<const CellRecord*> a = records(hits), b = records(owned);
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace qm
