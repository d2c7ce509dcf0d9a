#define PCRE2_CODE_UNIT_WIDTH 8
#include "core/pattern.h"

#include <pcre2.h>

#include <new>
#include <string>
#include <utility>

namespace qm {

namespace {

constexpr std::string_view kCaselessPrefix = "(?i)";

std::string error_message(int code, PCRE2_SIZE offset) {
  PCRE2_UCHAR buf[256];
  int n = pcre2_get_error_message(code, buf, sizeof buf);
  std::string message;
  if (n < 0) {
    message = "regular expression error " + std::to_string(code);
  } else {
    message.assign(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
  }
  message += " at offset ";
  message += std::to_string(offset);
  return message;
}

}  // namespace

Result<Pattern> Pattern::compile(std::string_view text, bool caseless_prefix) {
  std::string prefixed;
  std::string_view compiled = text;
  if (caseless_prefix) {
    prefixed.reserve(kCaselessPrefix.size() + text.size());
    prefixed.append(kCaselessPrefix).append(text);
    compiled = prefixed;
  }
  int error = 0;
  PCRE2_SIZE offset = 0;
  // PCRE2 wants a non-null pointer even for an empty pattern.
  const char* data = compiled.empty() ? "" : compiled.data();
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(data), compiled.size(),
                                   PCRE2_UTF | PCRE2_UCP, &error, &offset, nullptr);
  if (code == nullptr) {
    if (error == PCRE2_ERROR_NOMEMORY) throw std::bad_alloc();
    return Status(ErrorCode::kPattern, error_message(error, offset));
  }
  // JIT is an optimisation only: a platform or pattern it refuses falls back
  // to the interpreter, which gives the same answers.
  bool jit = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;
  return Pattern(code, jit);
}

namespace {

// An ASCII code unit and, for a letter, its other case: PCRE2 does not say
// whether a first or required code unit is caseless, so both are assumed.
void set_both_cases(std::bitset<256>& set, uint32_t cu) {
  set.set(cu);
  if (cu >= 'a' && cu <= 'z') set.set(cu - 'a' + 'A');
  if (cu >= 'A' && cu <= 'Z') set.set(cu - 'A' + 'a');
}

}  // namespace

Pattern::Pattern(pcre2_code* code, bool jit) : code_(code), jit_(jit) {
  // Only ASCII units are used: a non-ASCII one may stand for a character
  // whose other case is ASCII (the Kelvin sign and k), and the alphabets
  // asked about are ASCII anyway.
  uint32_t type = 0;
  if (pcre2_pattern_info(code_, PCRE2_INFO_FIRSTCODETYPE, &type) == 0 && type == 1) {
    uint32_t cu = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_FIRSTCODEUNIT, &cu);
    if (cu < 0x80) {
      first_known_ = true;
      set_both_cases(first_, cu);
    }
  } else if (type == 0) {
    // The start bitmap lists every byte a match may start with, other cases
    // included; PCRE2 skips start positions by it.
    const uint8_t* bitmap = nullptr;
    if (pcre2_pattern_info(code_, PCRE2_INFO_FIRSTBITMAP, &bitmap) == 0 && bitmap != nullptr) {
      first_known_ = true;
      for (int b = 0; b < 256; ++b)
        if (bitmap[b / 8] & (1u << (b % 8))) first_.set(static_cast<size_t>(b));
    }
  }
  if (pcre2_pattern_info(code_, PCRE2_INFO_LASTCODETYPE, &type) == 0 && type == 1) {
    uint32_t cu = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_LASTCODEUNIT, &cu);
    if (cu < 0x80) {
      required_known_ = true;
      set_both_cases(required_, cu);
    }
  }
}

Pattern::Pattern(Pattern&& o) noexcept
    : code_(std::exchange(o.code_, nullptr)),
      jit_(o.jit_),
      first_known_(o.first_known_),
      first_(o.first_),
      required_known_(o.required_known_),
      required_(o.required_) {}

Pattern& Pattern::operator=(Pattern&& o) noexcept {
  if (this != &o) {
    if (code_) pcre2_code_free(code_);
    code_ = std::exchange(o.code_, nullptr);
    jit_ = o.jit_;
    first_known_ = o.first_known_;
    first_ = o.first_;
    required_known_ = o.required_known_;
    required_ = o.required_;
  }
  return *this;
}

bool Pattern::may_match_over(std::string_view alphabet) const {
  auto meets = [&](const std::bitset<256>& set) {
    for (char c : alphabet)
      if (set.test(static_cast<unsigned char>(c))) return true;
    return false;
  };
  if (first_known_ && !meets(first_)) return false;
  if (required_known_ && !meets(required_)) return false;
  return true;
}

Pattern::~Pattern() {
  if (code_) pcre2_code_free(code_);
}

Pattern::Matcher::Matcher(const Pattern& pattern) : code_(pattern.code_), jit_(pattern.jit_) {
  // One ovector pair is enough: the engine only asks whether a match exists
  // (pcre2_match returns 0 instead of 1 when capture groups do not fit).
  data_ = pcre2_match_data_create(1, nullptr);
  context_ = pcre2_match_context_create(nullptr);
  if (data_ == nullptr || context_ == nullptr) {
    if (data_) pcre2_match_data_free(data_);
    if (context_) pcre2_match_context_free(context_);
    throw std::bad_alloc();
  }
  pcre2_set_match_limit(context_, kMatchLimit);
  pcre2_set_depth_limit(context_, kDepthLimit);
}

Pattern::Matcher::Matcher(Matcher&& o) noexcept
    : code_(o.code_),
      jit_(o.jit_),
      data_(std::exchange(o.data_, nullptr)),
      context_(std::exchange(o.context_, nullptr)),
      jit_stack_(std::exchange(o.jit_stack_, nullptr)) {}

Pattern::Matcher::~Matcher() {
  if (data_) pcre2_match_data_free(data_);
  if (context_) pcre2_match_context_free(context_);
  if (jit_stack_) pcre2_jit_stack_free(jit_stack_);
}

bool Pattern::Matcher::grow_jit_stack() {
  if (jit_stack_ != nullptr) return false;  // already at its largest
  jit_stack_ = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
  if (jit_stack_ == nullptr) return false;
  pcre2_jit_stack_assign(context_, nullptr, jit_stack_);
  return true;
}

namespace {

bool all_ascii(std::string_view s) {
  unsigned char any = 0;
  for (char c : s) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

}  // namespace

bool Pattern::Matcher::match(std::string_view subject, bool ascii) {
  auto s = reinterpret_cast<PCRE2_SPTR>(subject.empty() ? "" : subject.data());
  // A subject known to be valid UTF-8 (ASCII) goes straight to the JIT code,
  // which skips pcre2_match's argument and UTF-8 checks; anything else is
  // checked by pcre2_match, so invalid UTF-8 is refused, never read past.
  bool valid = ascii || all_ascii(subject);
  for (;;) {
    int rc = jit_ && valid
                 ? pcre2_jit_match(code_, s, subject.size(), 0, 0, data_, context_)
                 : pcre2_match(code_, s, subject.size(), 0, valid ? PCRE2_NO_UTF_CHECK : 0, data_,
                               context_);
    if (rc >= 0) return true;
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT && grow_jit_stack()) continue;
    // No match, or a run-time failure (limits, invalid UTF-8): not a match.
    return false;
  }
}

}  // namespace qm
