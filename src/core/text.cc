#include "core/text.h"

#include <cstring>

namespace qm {

char32_t next_code_point(std::string_view s, size_t& i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int len;
  char32_t cp;
  if ((c & 0xE0) == 0xC0) {
    len = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    cp = c & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k < len; ++k) {
    unsigned char cc = b(i + k);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += len;
  return cp;
}

namespace {

// Non-ASCII code points whose full upper-case mapping (UnicodeData plus
// SpecialCasing) starts with an ASCII character. Every other non-ASCII code
// point upper-cases to something that starts outside ASCII. The exhaustive
// test in tests/python compares this with Python's str.upper().
struct UpperEntry {
  char32_t cp;
  char ascii[4];  // the ASCII prefix of the mapping
  bool rest;      // the mapping goes on with non-ASCII characters
};

constexpr UpperEntry kUpperTable[] = {
    {0x00DF, "SS", false},   // sharp s
    {0x0131, "I", false},    // dotless i
    {0x017F, "S", false},    // long s
    {0x01F0, "J", true},     // j with caron -> J + U+030C
    {0x1E96, "H", true},     // h with line below -> H + U+0331
    {0x1E97, "T", true},     // t with diaeresis -> T + U+0308
    {0x1E98, "W", true},     // w with ring above -> W + U+030A
    {0x1E99, "Y", true},     // y with ring above -> Y + U+030A
    {0x1E9A, "A", true},     // a with right half ring -> A + U+02BE
    {0xFB00, "FF", false},   // ligatures
    {0xFB01, "FI", false},
    {0xFB02, "FL", false},
    {0xFB03, "FFI", false},
    {0xFB04, "FFL", false},
    {0xFB05, "ST", false},
    {0xFB06, "ST", false},
};

}  // namespace

int upper_ascii_prefix(char32_t cp, char out[3], bool* rest) {
  if (cp < 0x80) {
    char c = static_cast<char>(cp);
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out[0] = c;
    *rest = false;
    return 1;
  }
  for (const UpperEntry& e : kUpperTable) {
    if (e.cp == cp) {
      int n = static_cast<int>(std::strlen(e.ascii));
      std::memcpy(out, e.ascii, n);
      *rest = e.rest;
      return n;
    }
  }
  *rest = true;
  return 0;
}

bool is_unicode_space(char32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

namespace {

// Length of the White_Space code point that ends at s[end - 1], or 0.
size_t space_before(std::string_view s, size_t end) {
  unsigned char last = static_cast<unsigned char>(s[end - 1]);
  if (last < 0x80) return is_unicode_space(last) ? 1 : 0;
  // Walk back to the lead byte (at most 3 continuation bytes).
  size_t start = end - 1;
  while (start > 0 && end - start < 4 &&
         (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
    --start;
  size_t i = start;
  char32_t cp = next_code_point(s, i);
  return (i == end && is_unicode_space(cp)) ? end - start : 0;
}

}  // namespace

std::string_view trim_unicode_space(std::string_view s) {
  size_t b = 0;
  while (b < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[b]);
    if (c < 0x80) {
      if (!is_unicode_space(c)) break;
      ++b;
      continue;
    }
    size_t i = b;
    if (!is_unicode_space(next_code_point(s, i))) break;
    b = i;
  }
  size_t e = s.size();
  while (e > b) {
    size_t n = space_before(s, e);
    if (n == 0) break;
    e -= n;
  }
  return s.substr(b, e - b);
}

}  // namespace qm
