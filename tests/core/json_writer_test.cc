#include "core/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "core/pool.h"

namespace qm {
namespace {

std::string document(const std::vector<SheetRef>& sheets) {
  Result<std::string> r = write_document(sheets);
  EXPECT_TRUE(r.ok()) << r.status().message();
  return r.ok() ? r.value() : std::string();
}

std::string one_sheet(const SheetRef& s) { return document({s}); }

// The cells part of a one-sheet document: what lies between "cells":[ and ].
std::string cells_of(const SheetRef& s) {
  std::string doc = one_sheet(s);
  size_t b = doc.find("\"cells\":[") + 9;
  size_t e = doc.find("],\"row_dimensions\"");
  return doc.substr(b, e - b);
}

CellRecord* put(SheetRecord& s, uint32_t row, uint16_t col, CellValue v) {
  std::unique_lock w(s.lock());
  return s.cell(row, col, &v);
}

DateTime at(int32_t y, uint8_t mo, uint8_t d, uint8_t h, uint8_t mi, uint8_t s, uint32_t ns) {
  return *DateTime::from_fields({y, mo, d, h, mi, s, ns});
}

TEST(JsonDocumentTest, EmptyWorkbook) { EXPECT_EQ(document({}), R"({"sheets":[]})"); }

TEST(JsonDocumentTest, NewSheet) {
  EXPECT_EQ(one_sheet(SheetRecord::create("Data", "visible")),
            R"({"sheets":[{"name":"Data","sheet_state":"visible","merge_cells":[],"cells":[],)"
            R"("row_dimensions":{"default_height":20.0},"column_dimensions":{"default_width":22.5},)"
            R"("comments":[]}]})");
}

TEST(JsonDocumentTest, WorkedExample) {
  SheetRef s = SheetRecord::create("Report", "visible");
  put(*s, 1, 1, CellValue::text("Total"));
  put(*s, 1, 2, CellValue::number(1.5));
  put(*s, 2, 1, CellValue::integer(-3));
  put(*s, 2, 2, CellValue::boolean(true));
  put(*s, 3, 1, CellValue::datetime(at(2024, 3, 5, 7, 8, 9, 0)));
  {
    std::unique_lock w(s->lock());
    s->cell(3, 2, nullptr);
    s->merge_cells.push_back({1, 1, 1, 2});
    s->set_row_height(3, 30.0);
    s->set_column_hidden(2, true);
    s->comments.push_back(make_ref<CommentRecord>(1, 1, "auditor", "check"));
  }
  EXPECT_EQ(
      one_sheet(s),
      R"({"sheets":[{"name":"Report","sheet_state":"visible","merge_cells":[[1,1,1,2]],"cells":[)"
      R"({"row":1,"column":1,"value":"Total","data_type":"s"},)"
      R"({"row":1,"column":2,"value":1.5,"data_type":"n"},)"
      R"({"row":2,"column":1,"value":-3,"data_type":"n"},)"
      R"({"row":2,"column":2,"value":true,"data_type":"b"},)"
      R"({"row":3,"column":1,"value":"2024-03-05T07:08:09","data_type":"d"},)"
      R"({"row":3,"column":2,"value":null,"data_type":"s"}],)"
      R"("row_dimensions":{"rows":{"3":{"row_num":3,"height":30.0,"hidden":false,"collapsed":false,"level":0}},"default_height":20.0},)"
      R"("column_dimensions":{"columns":{"2":{"col_num":2,"width":22.5,"hidden":true,"collapsed":false,"level":0}},"default_width":22.5},)"
      R"("comments":[{"row":1,"column":1,"author":"auditor","text":"check"}]}]})");
}

TEST(JsonDocumentTest, SheetsInListOrder) {
  SheetRef a = SheetRecord::create("A", "visible");
  SheetRef b = SheetRecord::create("B", "hidden");
  std::string doc = document({b, a, b});
  size_t pb = doc.find(R"("name":"B","sheet_state":"hidden")");
  size_t pa = doc.find(R"("name":"A")");
  size_t pb2 = doc.rfind(R"("name":"B")");
  EXPECT_LT(pb, pa);
  EXPECT_LT(pa, pb2);
  EXPECT_NE(doc.find(R"("comments":[]},{"name":"A")"), std::string::npos);
}

struct NumberCase {
  double value;
  const char* text;
};

class JsonNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(JsonNumberTest, Form) {
  std::string out;
  detail::append_json_number(out, GetParam().value);
  EXPECT_EQ(out, GetParam().text);
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonNumberTest,
    testing::Values(NumberCase{1.0, "1.0"}, NumberCase{20.0, "20.0"}, NumberCase{22.5, "22.5"},
                    NumberCase{1500.0, "1500.0"}, NumberCase{1.5, "1.5"}, NumberCase{0.5, "0.5"},
                    NumberCase{-2.25, "-2.25"}, NumberCase{0.1, "0.1"},
                    NumberCase{1e15, "1000000000000000.0"},
                    NumberCase{9999999999999998.0, "9999999999999998.0"},
                    NumberCase{1e16, "1e+16"}, NumberCase{-1e16, "-1e+16"},
                    NumberCase{123456789012345680.0, "1.2345678901234568e+17"},
                    NumberCase{1.5e300, "1.5e+300"}, NumberCase{1e-5, "0.00001"},
                    NumberCase{1.25e-5, "0.0000125"}, NumberCase{-1e-5, "-0.00001"},
                    NumberCase{1e-6, "1e-6"}, NumberCase{2.5e-7, "2.5e-7"},
                    NumberCase{5e-324, "5e-324"},
                    NumberCase{std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
                    NumberCase{0.0, "0.0"}, NumberCase{-0.0, "-0.0"},
                    NumberCase{std::nan(""), "null"}, NumberCase{kInf, "null"},
                    NumberCase{-kInf, "null"}));

TEST(JsonLayoutTest, NonFiniteNumbersAreNull) {
  SheetRef s = SheetRecord::create("S", "visible");
  {
    std::unique_lock w(s->lock());
    s->set_row_height(1, std::nan(""));
    s->set_column_width(1, -kInf);
    s->default_height = kInf;
    s->default_width = std::nan("");
  }
  std::string doc = one_sheet(s);
  EXPECT_NE(doc.find(R"("height":null)"), std::string::npos);
  EXPECT_NE(doc.find(R"("width":null)"), std::string::npos);
  EXPECT_NE(doc.find(R"("default_height":null)"), std::string::npos);
  EXPECT_NE(doc.find(R"("default_width":null)"), std::string::npos);
}

TEST(JsonEscapeTest, EveryControlCharacter) {
  const char* want[32] = {
      "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
      "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
      "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
      "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f"};
  for (int c = 0; c < 32; ++c) {
    std::string out;
    detail::append_json_string(out, std::string(1, static_cast<char>(c)));
    EXPECT_EQ(out, "\"" + std::string(want[c]) + "\"") << "control " << c;
  }
}

struct StringCase {
  std::string text;
  std::string json;
};

class JsonStringTest : public testing::TestWithParam<StringCase> {};

TEST_P(JsonStringTest, Escapes) {
  std::string out;
  detail::append_json_string(out, GetParam().text);
  EXPECT_EQ(out, GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonStringTest,
    testing::Values(StringCase{"", R"("")"}, StringCase{"plain", R"("plain")"},
                    StringCase{"a\"b", R"("a\"b")"}, StringCase{"a\\b", R"("a\\b")"},
                    StringCase{"a/b", R"("a/b")"},
                    StringCase{"q\"b\\n\n\x1b", R"("q\"b\\n\n\u001b")"},
                    StringCase{"\x7f", "\"\x7f\""},
                    StringCase{"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
                               "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
                    StringCase{std::string("a\0b", 3), R"("a\u0000b")"},
                    StringCase{"\n\n", R"("\n\n")"}));

TEST(JsonDocumentTest, TextsEverywhereAreEscaped) {
  SheetRef s = SheetRecord::create("R\"1", "v\\s");
  put(*s, 1, 1, CellValue::text("line\nbreak"));
  {
    std::unique_lock w(s->lock());
    s->comments.push_back(make_ref<CommentRecord>(1, 1, "\t", "\x01"));
  }
  std::string doc = one_sheet(s);
  EXPECT_NE(doc.find(R"("name":"R\"1","sheet_state":"v\\s")"), std::string::npos);
  EXPECT_NE(doc.find(R"("value":"line\nbreak")"), std::string::npos);
  EXPECT_NE(doc.find(R"("author":"\t","text":"\u0001")"), std::string::npos);
}

struct ValueCase {
  CellValue value;
  const char* json;
};

class JsonValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(JsonValueTest, CellValueForm) {
  SheetRef s = SheetRecord::create("S", "visible");
  put(*s, 1, 1, GetParam().value);
  std::string c = cells_of(s);
  EXPECT_EQ(c.substr(0, c.find(",\"data_type\"")), std::string(R"({"row":1,"column":1,"value":)") +
                                                       GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonValueTest,
    testing::Values(ValueCase{CellValue::number(1.0), "1.0"}, ValueCase{CellValue::integer(1), "1"},
                    ValueCase{CellValue::integer(-2147483647 - 1), "-2147483648"},
                    ValueCase{CellValue::number(1e16), "1e+16"},
                    ValueCase{CellValue::number(0.00001), "0.00001"},
                    ValueCase{CellValue::number(1e-6), "1e-6"},
                    ValueCase{CellValue::number(std::nan("")), "null"},
                    ValueCase{CellValue::boolean(false), "false"},
                    ValueCase{CellValue::empty(), "null"},
                    ValueCase{CellValue::text("a longer text than fits inline"),
                              R"("a longer text than fits inline")"},
                    ValueCase{CellValue::datetime(at(2024, 3, 5, 7, 8, 9, 500'000'000)),
                              R"("2024-03-05T07:08:09.500")"},
                    ValueCase{CellValue::datetime(at(2024, 3, 5, 7, 8, 9, 123'000)),
                              R"("2024-03-05T07:08:09.000123")"},
                    ValueCase{CellValue::datetime(at(2024, 3, 5, 7, 8, 9, 7)),
                              R"("2024-03-05T07:08:09.000000007")"},
                    ValueCase{CellValue::datetime(at(12345, 1, 2, 3, 4, 5, 0)),
                              R"("+12345-01-02T03:04:05")"}));

TEST(JsonDocumentTest, CellsWrittenSorted) {
  SheetRef s = SheetRecord::create("S", "visible");
  put(*s, 2, 1, CellValue::integer(21));
  put(*s, 1, 3, CellValue::integer(13));
  put(*s, 1, 2, CellValue::integer(12));
  put(*s, 4294967295u, 0, CellValue::integer(0));
  put(*s, 0, 65535, CellValue::integer(65535));
  EXPECT_EQ(cells_of(s),
            R"({"row":0,"column":65535,"value":65535,"data_type":"n"},)"
            R"({"row":1,"column":2,"value":12,"data_type":"n"},)"
            R"({"row":1,"column":3,"value":13,"data_type":"n"},)"
            R"({"row":2,"column":1,"value":21,"data_type":"n"},)"
            R"({"row":4294967295,"column":0,"value":0,"data_type":"n"})");
}

struct OptionalCase {
  const char* name;
  bool formula, style, hidden;
  const char* json;
};

class JsonOptionalFieldsTest : public testing::TestWithParam<OptionalCase> {};

TEST_P(JsonOptionalFieldsTest, PresentOnlyWhenSetInOrder) {
  const OptionalCase& tc = GetParam();
  SheetRef s = SheetRecord::create("S", "visible");
  CellRecord* c = put(*s, 1, 1, CellValue::integer(5));
  {
    std::unique_lock w(c->lock());
    if (tc.formula) c->assign_formula("=A2*2");
    if (tc.style) c->set_style_id("bold");
    if (tc.hidden) c->set_hidden_value("h\"v");
  }
  EXPECT_EQ(cells_of(s), tc.json);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonOptionalFieldsTest,
    testing::Values(
        OptionalCase{"None", false, false, false,
                     R"({"row":1,"column":1,"value":5,"data_type":"n"})"},
        OptionalCase{"Formula", true, false, false,
                     R"({"row":1,"column":1,"value":5,"formula":"=A2*2","data_type":"f"})"},
        OptionalCase{"Style", false, true, false,
                     R"({"row":1,"column":1,"value":5,"data_type":"n","style_id":"bold"})"},
        OptionalCase{"Hidden", false, false, true,
                     R"({"row":1,"column":1,"value":5,"data_type":"n","hidden_value":"h\"v"})"},
        OptionalCase{"All", true, true, true,
                     R"({"row":1,"column":1,"value":5,"formula":"=A2*2","data_type":"f",)"
                     R"("style_id":"bold","hidden_value":"h\"v"})"}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST(JsonDocumentTest, ForeignDataTypeWrittenAsStored) {
  SheetRef s = SheetRecord::create("S", "visible");
  {
    std::unique_lock w(s->lock());
    s->cells.insert_new(CellRecord::create(1, 1, CellValue::text("x"), std::nullopt, "inlineStr",
                                           std::nullopt, std::nullopt));
    s->cells.insert_new(CellRecord::create(1, 2, CellValue::text("y"), std::nullopt, "",
                                           std::nullopt, std::nullopt));
  }
  EXPECT_EQ(cells_of(s), R"({"row":1,"column":1,"value":"x","data_type":"inlineStr"},)"
                         R"({"row":1,"column":2,"value":"y","data_type":""})");
}

TEST(JsonDocumentTest, DimensionsAndMerges) {
  SheetRef s = SheetRecord::create("S", "visible");
  {
    std::unique_lock w(s->lock());
    s->set_row_height(10, 12.25);
    s->set_row_hidden(3, true);
    s->set_column_width(65535, 0.0);
    s->set_column_hidden(7, true);
    s->set_column_width(7, 8.0);
    s->merge_cells.push_back({5, 1, 3, 2});
    s->merge_cells.push_back({5, 1, 3, 2});
    s->merge_cells.push_back({4294967295u, 0, 65535, 0});
    s->default_height = 15.0;
  }
  std::string doc = one_sheet(s);
  EXPECT_NE(doc.find(R"("merge_cells":[[5,1,3,2],[5,1,3,2],[4294967295,0,65535,0]])"),
            std::string::npos);
  EXPECT_NE(doc.find(R"("row_dimensions":{"rows":{)"
                     R"("3":{"row_num":3,"height":20.0,"hidden":true,"collapsed":false,"level":0},)"
                     R"("10":{"row_num":10,"height":12.25,"hidden":false,"collapsed":false,"level":0}},)"
                     R"("default_height":15.0})"),
            std::string::npos)
      << doc;
  EXPECT_NE(doc.find(R"("column_dimensions":{"columns":{)"
                     R"("7":{"col_num":7,"width":8.0,"hidden":true,"collapsed":false,"level":0},)"
                     R"("65535":{"col_num":65535,"width":0.0,"hidden":false,"collapsed":false,"level":0}},)"
                     R"("default_width":22.5})"),
            std::string::npos)
      << doc;
}

TEST(JsonDocumentTest, CopiesWriteSharedValues) {
  SheetRef s = SheetRecord::create("S", "visible");
  CellRecord* c = put(*s, 1, 1, CellValue::integer(1));
  SheetRef copy = s->copy();
  {
    std::unique_lock w(copy->lock());
    copy->name = "Sheet 2";
  }
  {
    std::unique_lock w(c->lock());
    c->assign_value(CellValue::integer(7));
  }
  EXPECT_EQ(document({s, copy}),
            R"({"sheets":[{"name":"S","sheet_state":"visible","merge_cells":[],"cells":[)"
            R"({"row":1,"column":1,"value":7,"data_type":"n"}],"row_dimensions":{"default_height":20.0},)"
            R"("column_dimensions":{"default_width":22.5},"comments":[]},)"
            R"({"name":"Sheet 2","sheet_state":"visible","merge_cells":[],"cells":[)"
            R"({"row":1,"column":1,"value":7,"data_type":"n"}],"row_dimensions":{"default_height":20.0},)"
            R"("column_dimensions":{"default_width":22.5},"comments":[]}]})");
}

TEST(JsonDocumentTest, LargeSheetIsSortedAndComplete) {
  // Enough cells for the parallel sort and many buffer growths.
  SheetRef s = SheetRecord::create("S", "visible");
  constexpr uint32_t kRows = 3000;
  for (uint32_t r = kRows; r >= 1; --r) {
    put(*s, r, 2, CellValue::number(r + 0.5));
    put(*s, r, 1, CellValue::integer(static_cast<int32_t>(r)));
  }
  std::string c = cells_of(s);
  std::string want;
  for (uint32_t r = 1; r <= kRows; ++r) {
    std::string n = std::to_string(r);
    if (r != 1) want += ',';
    want += "{\"row\":" + n + ",\"column\":1,\"value\":" + n + ",\"data_type\":\"n\"},";
    want += "{\"row\":" + n + ",\"column\":2,\"value\":" + n + ".5,\"data_type\":\"n\"}";
  }
  EXPECT_EQ(c, want);
}

TEST(JsonDocumentTest, ChunkedSheetMatchesOneWorkerAndJoinsItsPieces) {
  // Several chunks of cells (formatted on the pool and kept as pieces), one
  // text in a middle chunk holding a non-ASCII character.
  SheetRef s = SheetRecord::create("S", "visible");
  constexpr uint32_t kRows = 25000;
  for (uint32_t r = 1; r <= kRows; ++r) {
    put(*s, r, 1, CellValue::number(r * 1.25));
    put(*s, r, 2, CellValue::text("t" + std::to_string(r)));
  }
  std::string want;
  for (uint32_t r = 1; r <= kRows; ++r) {
    if (r != 1) want += ',';
    std::string n = std::to_string(r);
    std::string num;
    detail::append_json_number(num, r * 1.25);
    want += "{\"row\":" + n + ",\"column\":1,\"value\":" + num + ",\"data_type\":\"n\"},";
    want += "{\"row\":" + n + ",\"column\":2,\"value\":\"t" + n + "\",\"data_type\":\"s\"}";
  }
  EXPECT_EQ(cells_of(s), want);

  struct Case {
    const char* text;
    bool ascii;
  };
  for (Case c : {Case{"plain", true}, Case{"caf\xC3\xA9", false}}) {
    put(*s, 20000, 2, CellValue::text(c.text));
    std::vector<SheetRef> sheets{s, SheetRecord::create("T", "visible")};
    Result<JsonPieces> pieces = write_document_pieces(sheets);
    ASSERT_TRUE(pieces.ok());
    EXPECT_GT(pieces->pieces.size(), 2u);
    std::string joined;
    for (const std::string& p : pieces->pieces) joined += p;
    EXPECT_EQ(joined, document(sheets)) << c.text;
    EXPECT_EQ(pieces->size, joined.size());
    EXPECT_EQ(pieces->ascii, c.ascii) << c.text;
    std::string one_worker;
    {
      pool::WorkerLimit limit(1);
      one_worker = document(sheets);
    }
    EXPECT_EQ(one_worker, joined) << c.text;
  }
}

}  // namespace
}  // namespace qm
