// Unicode helpers for the few places where the system looks inside a text:
// upper-casing for TRUE/FALSE and letter coordinates, and White_Space
// trimming for the text searches. Texts are UTF-8; bytes that do not form a
// valid sequence are taken one at a time as U+FFFD.
#ifndef QUILLMOOR_CORE_TEXT_H_
#define QUILLMOOR_CORE_TEXT_H_

#include <cstddef>
#include <string_view>

namespace qm {

// Decodes the code point at s[i], advancing i. Invalid bytes give U+FFFD and
// advance by one.
char32_t next_code_point(std::string_view s, size_t& i);

// The full Unicode upper-case mapping of cp, as far as it starts with ASCII:
// writes the leading ASCII characters of the mapping to out (at most 3) and
// returns how many; *rest is set when the mapping goes on with non-ASCII
// characters. A code point whose mapping starts with a non-ASCII character
// gives 0 with *rest set. (ASCII letters map to their capitals; 'ß' gives
// "SS", U+017F gives "S", U+FB03 gives "FFI", U+01F0 gives "J" plus a rest.)
int upper_ascii_prefix(char32_t cp, char out[3], bool* rest);

// True for the Unicode White_Space characters.
bool is_unicode_space(char32_t cp);

// s without leading and trailing Unicode White_Space.
std::string_view trim_unicode_space(std::string_view s);

}  // namespace qm

#endif  // QUILLMOOR_CORE_TEXT_H_
