// Cell coordinates and their letter form (B7, $C$12).
//
//   column_letters(27)          == "AA"
//   letter_coordinate(7, 2)     == "B7"
//   parse_letter("$b$3")        -> Coordinate{3, 2}
//
// Pure functions, safe on any thread.
#ifndef QUILLMOOR_CORE_COORDINATE_H_
#define QUILLMOOR_CORE_COORDINATE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "core/status.h"

namespace qm {

struct Coordinate {
  uint32_t row = 0;
  uint16_t column = 0;
  friend bool operator==(const Coordinate&, const Coordinate&) = default;
};

// "Coordinate { row: 7, column: 2 }"
std::string debug_string(Coordinate c);

// Bijective base-26 column letters; "" for column 0. At most 4 letters.
// Writes into out (at least 4 bytes) and returns the length.
size_t column_letters(uint16_t column, char* out);
std::string column_letters(uint16_t column);

// Column letters followed by the row in decimal: (7, 2) -> "B7", (5, 0) -> "5".
std::string letter_coordinate(uint32_t row, uint16_t column);

// Letter parsing: the text is upper-cased with the full Unicode mapping, then
// matched from its start against ((\$)?([A-Z]{1,3}))?((\$)?([0-9]+))?; what
// follows the match is ignored. Refused (ErrorCode::kLetter, message naming
// the text) when the row part is absent or does not fit 32 bits, then when
// the column part is absent. The matcher is hand-written: the pattern has no
// backtracking choices that matter, so one pass over the text suffices.
Result<Coordinate> parse_letter(std::string_view text);

}  // namespace qm

#endif  // QUILLMOOR_CORE_COORDINATE_H_
