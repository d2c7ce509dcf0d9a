#include "core/coordinate.h"

#include <charconv>
#include <cstring>

#include "core/text.h"

namespace qm {

std::string debug_string(Coordinate c) {
  std::string s = "Coordinate { row: ";
  s += std::to_string(c.row);
  s += ", column: ";
  s += std::to_string(c.column);
  s += " }";
  return s;
}

size_t column_letters(uint16_t column, char* out) {
  char rev[4];
  size_t n = 0;
  unsigned v = column;
  while (v > 0) {
    unsigned d = (v - 1) % 26;
    rev[n++] = static_cast<char>('A' + d);
    v = (v - 1) / 26;
  }
  for (size_t i = 0; i < n; ++i) out[i] = rev[n - 1 - i];
  return n;
}

std::string column_letters(uint16_t column) {
  char buf[4];
  return std::string(buf, column_letters(column, buf));
}

std::string letter_coordinate(uint32_t row, uint16_t column) {
  char buf[16];
  size_t n = column_letters(column, buf);
  auto r = std::to_chars(buf + n, buf + sizeof buf, row);
  return std::string(buf, r.ptr - buf);
}

namespace {

// Streams the upper-cased text one ASCII character at a time; any character
// that is not ASCII (or whose mapping goes on outside ASCII) ends the stream,
// since no part of the letter pattern can match it.
class UpperStream {
 public:
  explicit UpperStream(std::string_view t) : t_(t) {}

  // The current character, or 0 at the end of what can match.
  char peek() {
    fill();
    return pos_ < len_ ? buf_[pos_] : 0;
  }
  void advance() { ++pos_; }

 private:
  void fill() {
    if (pos_ < len_ || stop_) return;
    if (i_ >= t_.size()) {
      stop_ = true;
      return;
    }
    char32_t cp = next_code_point(t_, i_);
    bool rest = false;
    len_ = upper_ascii_prefix(cp, buf_, &rest);
    pos_ = 0;
    if (rest) {
      // The ASCII prefix can still be matched; after it the text cannot.
      buf_[len_] = 0;
      ++len_;
      stop_ = true;
    }
    if (len_ == 0) stop_ = true;
  }

  std::string_view t_;
  size_t i_ = 0;
  char buf_[4] = {};
  int len_ = 0;
  int pos_ = 0;
  bool stop_ = false;
};

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

Result<Coordinate> parse_letter(std::string_view text) {
  // The pattern is ((\$)?([A-Z]{1,3}))?((\$)?([0-9]+))?, matched at the start.
  // A "$" is only consumed when what follows it completes its group; since a
  // "$" can never start the other group's letters or digits, looking one
  // character past it decides the match exactly as backtracking would.
  // Buffering the upper-cased text lets us look ahead freely: only its first
  // few characters up to the end of the digits matter.
  std::string up;
  {
    UpperStream s(text);
    for (char c = s.peek(); c != 0; c = s.peek()) {
      up.push_back(c);
      s.advance();
      // Everything after a character that is neither "$", a letter nor a
      // digit is never looked at.
      if (c != '$' && !is_upper(c) && !is_digit(c)) break;
    }
  }
  size_t p = 0;
  uint32_t column = 0;
  bool has_column = false;
  {
    size_t q = p;
    if (q < up.size() && up[q] == '$') ++q;
    size_t n = 0;
    while (n < 3 && q + n < up.size() && is_upper(up[q + n])) ++n;
    if (n > 0) {
      for (size_t k = 0; k < n; ++k) column = column * 26 + static_cast<uint32_t>(up[q + k] - 'A' + 1);
      has_column = true;
      p = q + n;
    }
  }
  bool has_row = false;
  uint64_t row = 0;
  {
    size_t q = p;
    if (q < up.size() && up[q] == '$') ++q;
    size_t n = 0;
    bool overflow = false;
    while (q + n < up.size() && is_digit(up[q + n])) {
      row = row * 10 + static_cast<uint64_t>(up[q + n] - '0');
      if (row > 0xFFFFFFFFull) {
        overflow = true;
        row = 0xFFFFFFFFull + 1;
      }
      ++n;
    }
    has_row = n > 0 && !overflow;
  }
  if (!has_row)
    return Status(ErrorCode::kLetter,
                  "invalid letter coordinate '" + std::string(text) + "': no row number");
  if (!has_column)
    return Status(ErrorCode::kLetter,
                  "invalid letter coordinate '" + std::string(text) + "': no column letters");
  return Coordinate{static_cast<uint32_t>(row), static_cast<uint16_t>(column)};
}

}  // namespace qm
