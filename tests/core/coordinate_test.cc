#include "core/coordinate.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace qm {
namespace {

TEST(ColumnLettersTest, Table) {
  const std::pair<uint16_t, const char*> cases[] = {
      {0, ""},      {1, "A"},       {26, "Z"},      {27, "AA"},  {52, "AZ"},
      {53, "BA"},   {702, "ZZ"},    {703, "AAA"},   {16384, "XFD"}, {18278, "ZZZ"},
      {18279, "AAAA"}, {65535, "CRXO"}};
  for (auto [col, letters] : cases) EXPECT_EQ(column_letters(col), letters) << col;
}

TEST(LetterCoordinateTest, Table) {
  EXPECT_EQ(letter_coordinate(7, 2), "B7");
  EXPECT_EQ(letter_coordinate(10, 27), "AA10");
  EXPECT_EQ(letter_coordinate(5, 0), "5");
  EXPECT_EQ(letter_coordinate(0, 3), "C0");
  EXPECT_EQ(letter_coordinate(4294967295u, 1), "A4294967295");
  EXPECT_EQ(debug_string({7, 2}), "Coordinate { row: 7, column: 2 }");
}

struct LetterCase {
  const char* text;
  bool ok;
  uint32_t row;
  uint16_t column;
};

class ParseLetterTest : public ::testing::TestWithParam<LetterCase> {};

TEST_P(ParseLetterTest, Parses) {
  const LetterCase& c = GetParam();
  Result<Coordinate> r = parse_letter(c.text);
  ASSERT_EQ(r.ok(), c.ok) << c.text;
  if (c.ok) {
    EXPECT_EQ(r->row, c.row) << c.text;
    EXPECT_EQ(r->column, c.column) << c.text;
  } else {
    EXPECT_EQ(r.status().code(), ErrorCode::kLetter);
    EXPECT_NE(r.status().message().find(c.text), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ParseLetterTest,
    ::testing::Values(LetterCase{"B7", true, 7, 2}, LetterCase{"b7", true, 7, 2},
                      LetterCase{"$C$12", true, 12, 3}, LetterCase{"C$12", true, 12, 3},
                      LetterCase{"$C12", true, 12, 3}, LetterCase{"AA10", true, 10, 27},
                      LetterCase{"ZZZ1", true, 1, 18278}, LetterCase{"A0", true, 0, 1},
                      LetterCase{"A1:B2", true, 1, 1}, LetterCase{"B7X", true, 7, 2},
                      LetterCase{"zz9", true, 9, 702}, LetterCase{"$a$1", true, 1, 1},
                      LetterCase{"A007", true, 7, 1}, LetterCase{"A4294967295", true, 4294967295u, 1},
                      LetterCase{"\xC3\x9F" "1", true, 1, 19 * 26 + 19},  // sharp s -> SS
                      LetterCase{"\xEF\xAC\x83" "2", true, 2, 6 * 676 + 6 * 26 + 9},  // ffi
                      LetterCase{"AB", false}, LetterCase{"ABC", false}, LetterCase{"12", false},
                      LetterCase{"7", false}, LetterCase{"$1", false}, LetterCase{"ABCD1", false},
                      LetterCase{" B7", false}, LetterCase{"", false},
                      LetterCase{"A4294967296", false}, LetterCase{"$$1", false},
                      LetterCase{"\xC7\xB0" "1", false}));  // j with caron: J + combining mark

TEST(ParseLetterTest, InverseOfColumnLetters) {
  for (uint32_t col = 1; col <= 18278; ++col) {
    std::string text = letter_coordinate(42, static_cast<uint16_t>(col));
    Result<Coordinate> r = parse_letter(text);
    ASSERT_TRUE(r.ok()) << text;
    EXPECT_EQ(r->column, col);
    EXPECT_EQ(r->row, 42u);
  }
}

TEST(ParseLetterTest, RowIsTestedBeforeColumn) {
  EXPECT_NE(parse_letter("").status().message().find("row"), std::string::npos);
  EXPECT_NE(parse_letter("12").status().message().find("column"), std::string::npos);
}

TEST(TrimTest, UnicodeWhiteSpace) {
  EXPECT_EQ(trim_unicode_space("  Total\t"), "Total");
  EXPECT_EQ(trim_unicode_space("\xC2\xA0" "x" "\xE3\x80\x80"), "x");  // NBSP, ideographic space
  EXPECT_EQ(trim_unicode_space("\xE2\x80\x8B" "x"), "\xE2\x80\x8B" "x");  // ZWSP is not White_Space
  EXPECT_EQ(trim_unicode_space(" \n\r\x0B\x0C "), "");
  EXPECT_EQ(trim_unicode_space("a b"), "a b");
  EXPECT_EQ(trim_unicode_space("\xC2\x85" "a" "\xE2\x80\xA8"), "a");  // NEL, line separator
  EXPECT_EQ(trim_unicode_space("x\xE2\x80"), "x\xE2\x80");            // broken tail kept
}

}  // namespace
}  // namespace qm
