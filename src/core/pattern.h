// A compiled search pattern: PCRE2 (8-bit, UTF-8 with Unicode properties),
// JIT-compiled when the platform allows, with a per-thread Matcher that finds
// a match anywhere in a subject.
//
//   Result<Pattern> p = Pattern::compile("tot", /*caseless_prefix=*/true);
//   Pattern::Matcher m = p->matcher();  bool hit = m.matches("Subtotal");  // true
//
// Threads. A Pattern is immutable after compile() and may be shared by any
// number of threads; each thread matches through its own Matcher (match data,
// match context and, when needed, JIT stack), which must never be shared.
// Everything here is safe on any thread and never touches Python.
#ifndef QUILLMOOR_CORE_PATTERN_H_
#define QUILLMOOR_CORE_PATTERN_H_

#include <bitset>
#include <cstdint>
#include <string_view>

#include "core/status.h"

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;
struct pcre2_real_match_context_8;
struct pcre2_real_jit_stack_8;

namespace qm {

class Pattern {
 public:
  // Backtracking budget of one match call (PCRE2's match limit): a runaway
  // pattern such as (a+)+$ gives up after this many steps and the subject
  // counts as not matched. PCRE2's own default, kept explicit: far above what
  // any pattern needs on a cell text, and a give-up costs milliseconds.
  static constexpr uint32_t kMatchLimit = 10'000'000;
  // Nesting budget of the interpreter's backtracking (PCRE2's depth limit).
  static constexpr uint32_t kDepthLimit = 1'000'000;
  // JIT stack sizes. A match first runs on PCRE2's small default stack; only
  // when that is exhausted (long subjects with deep backtracking) does the
  // Matcher make a stack of its own, able to grow to kJitStackMax, and retry.
  static constexpr size_t kJitStackStart = 32 * 1024;
  static constexpr size_t kJitStackMax = 8 * 1024 * 1024;

  // Compiles text, prefixed with "(?i)" when caseless_prefix is set (the cell
  // searches: case is ignored unless the pattern turns it back on), unchanged
  // otherwise (sheet names: case-sensitive). A text that does not compile
  // gives ErrorCode::kPattern with PCRE2's description followed by
  // " at offset N", N counted in the compiled text (so including the prefix).
  // May throw std::bad_alloc.
  static Result<Pattern> compile(std::string_view text, bool caseless_prefix);

  Pattern(Pattern&& o) noexcept;
  Pattern& operator=(Pattern&& o) noexcept;
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;
  ~Pattern();

  // Whether the JIT compiler accepted the pattern (otherwise matching uses
  // the interpreter).
  bool jit() const { return jit_; }

  // False when no subject made only of bytes from `alphabet` (the empty
  // subject included) can match, because every match needs a first or a
  // required character that the alphabet lacks (as PCRE2's own start-up
  // analysis reports it); true otherwise, including whenever that analysis
  // says nothing. Lets a search skip whole kinds of value text (numbers
  // never contain a letter other than those of NaN and inf) without making
  // or matching the text.
  bool may_match_over(std::string_view alphabet) const;

  // One thread's means of matching. Cheap to make (two small allocations);
  // make one per piece of work, never share one between threads. Must not
  // outlive its Pattern.
  class Matcher {
   public:
    explicit Matcher(const Pattern& pattern);
    Matcher(Matcher&& o) noexcept;
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;
    Matcher& operator=(Matcher&&) = delete;
    ~Matcher();

    // True when the pattern matches somewhere in subject (unanchored). Any
    // run-time failure - the match or depth limit reached, a JIT stack that
    // cannot grow, invalid UTF-8 in the subject - counts as no match.
    bool matches(std::string_view subject) { return match(subject, false); }
    // The same for a subject known to be ASCII (number, boolean and date-time
    // texts): skips PCRE2's UTF-8 validity check.
    bool matches_ascii(std::string_view subject) { return match(subject, true); }

   private:
    bool match(std::string_view subject, bool ascii);
    bool grow_jit_stack();

    pcre2_real_code_8* code_;  // borrowed from the Pattern
    bool jit_;
    pcre2_real_match_data_8* data_ = nullptr;
    pcre2_real_match_context_8* context_ = nullptr;
    pcre2_real_jit_stack_8* jit_stack_ = nullptr;  // made on first exhaustion
  };

  Matcher matcher() const { return Matcher(*this); }

 private:
  explicit Pattern(pcre2_real_code_8* code, bool jit);

  pcre2_real_code_8* code_ = nullptr;
  bool jit_ = false;
  // From PCRE2's analysis: the bytes a match may start with (when known) and
  // the ASCII bytes one of which every match contains (when known).
  bool first_known_ = false;
  std::bitset<256> first_;
  bool required_known_ = false;
  std::bitset<256> required_;
};

}  // namespace qm

#endif  // QUILLMOOR_CORE_PATTERN_H_
