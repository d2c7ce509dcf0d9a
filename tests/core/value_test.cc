#include "core/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace qm {
namespace {

std::string text_of(const CellValue& v) { return value_text_string(v); }

DateTime dt(int y, int mo, int d, int h, int mi, int s, uint32_t nanos = 0) {
  return *DateTime::from_fields({y, static_cast<uint8_t>(mo), static_cast<uint8_t>(d),
                                 static_cast<uint8_t>(h), static_cast<uint8_t>(mi),
                                 static_cast<uint8_t>(s), nanos});
}

struct NumberCase {
  double value;
  std::string text;
};

class NumberTextTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberTextTest, ShortestPlainDecimal) {
  EXPECT_EQ(text_of(CellValue::number(GetParam().value)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, NumberTextTest,
    ::testing::Values(
        NumberCase{1.0, "1"}, NumberCase{2.5, "2.5"}, NumberCase{1e20, "100000000000000000000"},
        NumberCase{1e-7, "0.0000001"}, NumberCase{-0.0, "-0"}, NumberCase{0.0, "0"},
        NumberCase{0.1, "0.1"}, NumberCase{-12.75, "-12.75"}, NumberCase{123456.789, "123456.789"},
        NumberCase{1e23, "100000000000000000000000"},
        NumberCase{1.5e300, "15" + std::string(299, '0')},
        NumberCase{5e-324, "0." + std::string(323, '0') + "5"},
        NumberCase{std::numeric_limits<double>::infinity(), "inf"},
        NumberCase{-std::numeric_limits<double>::infinity(), "-inf"},
        NumberCase{std::nan(""), "NaN"}, NumberCase{2147483648.0, "2147483648"},
        NumberCase{0.30000000000000004, "0.30000000000000004"}));

TEST(ValueTextTest, OtherKinds) {
  EXPECT_EQ(text_of(CellValue::empty()), "");
  EXPECT_EQ(text_of(CellValue::text("Total")), "Total");
  EXPECT_EQ(text_of(CellValue::integer(-12)), "-12");
  EXPECT_EQ(text_of(CellValue::integer(std::numeric_limits<int32_t>::min())), "-2147483648");
  EXPECT_EQ(text_of(CellValue::boolean(true)), "true");
  EXPECT_EQ(text_of(CellValue::boolean(false)), "false");
}

TEST(ValueTextTest, DateTimeFractions) {
  EXPECT_EQ(text_of(CellValue::datetime(dt(2024, 3, 5, 7, 8, 9))), "2024-03-05 07:08:09");
  EXPECT_EQ(text_of(CellValue::datetime(dt(2024, 3, 5, 7, 8, 9, 500'000'000))),
            "2024-03-05 07:08:09.500");
  EXPECT_EQ(text_of(CellValue::datetime(dt(2024, 3, 5, 7, 8, 9, 123'000))),
            "2024-03-05 07:08:09.000123");
  EXPECT_EQ(text_of(CellValue::datetime(dt(2024, 3, 5, 7, 8, 9, 1))),
            "2024-03-05 07:08:09.000000001");
  EXPECT_EQ(text_of(CellValue::datetime(dt(1, 1, 1, 0, 0, 0))), "0001-01-01 00:00:00");
  EXPECT_EQ(text_of(CellValue::datetime(dt(0, 12, 31, 23, 59, 59))), "0000-12-31 23:59:59");
  EXPECT_EQ(text_of(CellValue::datetime(dt(-1, 1, 1, 0, 0, 0))), "-0001-01-01 00:00:00");
  EXPECT_EQ(text_of(CellValue::datetime(dt(10000, 1, 1, 0, 0, 0))), "+10000-01-01 00:00:00");
  EXPECT_EQ(text_of(CellValue::datetime(dt(1969, 12, 31, 23, 59, 59))), "1969-12-31 23:59:59");
}

TEST(DateTimeTest, RejectsInvalidFields) {
  EXPECT_FALSE(DateTime::from_fields({2024, 2, 30, 0, 0, 0, 0}));
  EXPECT_FALSE(DateTime::from_fields({2023, 2, 29, 0, 0, 0, 0}));
  EXPECT_TRUE(DateTime::from_fields({2024, 2, 29, 0, 0, 0, 0}));
  EXPECT_FALSE(DateTime::from_fields({2024, 13, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(DateTime::from_fields({2024, 1, 1, 24, 0, 0, 0}));
  EXPECT_FALSE(DateTime::from_fields({2024, 1, 1, 0, 60, 0, 0}));
  EXPECT_FALSE(DateTime::from_fields({2024, 1, 1, 0, 0, 60, 0}));
  EXPECT_FALSE(DateTime::from_fields({2024, 1, 1, 0, 0, 0, 1'000'000'000}));
}

struct ParseCase {
  const char* text;
  CellValue expected;
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, FirstRuleWins) {
  CellValue got = parse_value(GetParam().text);
  EXPECT_EQ(got, GetParam().expected) << "text: '" << GetParam().text << "' gave kind "
                                      << static_cast<int>(got.kind()) << " text "
                                      << value_text_string(got);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ParseTest,
    ::testing::Values(
        ParseCase{"42", CellValue::integer(42)}, ParseCase{"+7", CellValue::integer(7)},
        ParseCase{"007", CellValue::integer(7)}, ParseCase{"-0", CellValue::integer(0)},
        ParseCase{"-2147483648", CellValue::integer(-2147483647 - 1)},
        ParseCase{"2147483647", CellValue::integer(2147483647)},
        ParseCase{"2147483648", CellValue::number(2147483648.0)},
        ParseCase{"-2147483649", CellValue::number(-2147483649.0)},
        ParseCase{"000000000000000000001", CellValue::integer(1)},
        ParseCase{"1e3", CellValue::number(1000)}, ParseCase{"1.50", CellValue::number(1.5)},
        ParseCase{".5", CellValue::number(0.5)}, ParseCase{"5.", CellValue::number(5)},
        ParseCase{"-1.5E-2", CellValue::number(-0.015)},
        ParseCase{"1e400", CellValue::number(HUGE_VAL)},
        ParseCase{"-1e400", CellValue::number(-HUGE_VAL)},
        ParseCase{"1e-400", CellValue::number(0.0)},
        ParseCase{"0.0000001e-400", CellValue::number(0.0)},
        ParseCase{"0.001e310", CellValue::number(1e307)},
        ParseCase{"5e-324", CellValue::number(5e-324)},
        ParseCase{"NaN", CellValue::number(std::nan(""))},
        ParseCase{"inf", CellValue::number(HUGE_VAL)},
        ParseCase{"-Infinity", CellValue::number(-HUGE_VAL)},
        ParseCase{"True", CellValue::boolean(true)}, ParseCase{"tRuE", CellValue::boolean(true)},
        ParseCase{"False", CellValue::boolean(false)},
        ParseCase{"fal\xC5\xBF" "e", CellValue::boolean(false)},  // long s upper-cases to S
        ParseCase{" true", CellValue::text(" true")}, ParseCase{"true ", CellValue::text("true ")},
        ParseCase{"2024-01-31 23:59:59", CellValue::datetime(dt(2024, 1, 31, 23, 59, 59))},
        ParseCase{"2024-01-31", CellValue::text("2024-01-31")},
        ParseCase{"2024-01-31 23:59:59.5", CellValue::text("2024-01-31 23:59:59.5")},
        ParseCase{"2024-02-30 10:00:00", CellValue::text("2024-02-30 10:00:00")},
        ParseCase{"2024-1-31 23:59:59", CellValue::text("2024-1-31 23:59:59")},
        ParseCase{"-", CellValue::text("-")}, ParseCase{"+", CellValue::text("+")},
        ParseCase{"", CellValue::empty()}, ParseCase{" 1", CellValue::text(" 1")},
        ParseCase{"1 ", CellValue::text("1 ")}, ParseCase{"1,000", CellValue::text("1,000")},
        ParseCase{"nan(123)", CellValue::text("nan(123)")}, ParseCase{"0x10", CellValue::text("0x10")},
        ParseCase{"1e", CellValue::text("1e")}, ParseCase{".", CellValue::text(".")},
        ParseCase{"e5", CellValue::text("e5")}, ParseCase{"++1", CellValue::text("++1")},
        ParseCase{"a somewhat longer text value", CellValue::text("a somewhat longer text value")}));

TEST(CellValueTest, CopiesAndMovesOwnLongTexts) {
  std::string long_text(100, 'x');
  CellValue a = CellValue::text(long_text);
  CellValue b = a;
  CellValue c = std::move(a);
  EXPECT_EQ(b.as_text(), long_text);
  EXPECT_EQ(c.as_text(), long_text);
  EXPECT_EQ(a.kind(), ValueKind::kEmpty);
  b = CellValue::text("short");
  EXPECT_EQ(b.as_text(), "short");
  c = c;  // self-assignment keeps the text
  EXPECT_EQ(c.as_text(), long_text);
  CellValue inline14 = CellValue::text("abcdefghijklmn");
  CellValue heap15 = CellValue::text("abcdefghijklmno");
  EXPECT_EQ(inline14.as_text(), "abcdefghijklmn");
  EXPECT_EQ(heap15.as_text(), "abcdefghijklmno");
}

TEST(CellValueTest, DataTypeCodes) {
  EXPECT_EQ(CellValue::empty().data_type_code(), 's');
  EXPECT_EQ(CellValue::text("x").data_type_code(), 's');
  EXPECT_EQ(CellValue::number(1).data_type_code(), 'n');
  EXPECT_EQ(CellValue::integer(1).data_type_code(), 'n');
  EXPECT_EQ(CellValue::boolean(true).data_type_code(), 'b');
  EXPECT_EQ(CellValue::datetime(dt(2024, 1, 1, 0, 0, 0)).data_type_code(), 'd');
}

}  // namespace
}  // namespace qm
