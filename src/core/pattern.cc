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

Pattern::Pattern(Pattern&& o) noexcept
    : code_(std::exchange(o.code_, nullptr)), jit_(o.jit_) {}

Pattern& Pattern::operator=(Pattern&& o) noexcept {
  if (this != &o) {
    if (code_) pcre2_code_free(code_);
    code_ = std::exchange(o.code_, nullptr);
    jit_ = o.jit_;
  }
  return *this;
}

Pattern::~Pattern() {
  if (code_) pcre2_code_free(code_);
}

Pattern::Matcher::Matcher(const Pattern& pattern) : code_(pattern.code_) {
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

bool Pattern::Matcher::match(std::string_view subject, bool ascii) {
  const char* s = subject.empty() ? "" : subject.data();
  uint32_t options = ascii ? PCRE2_NO_UTF_CHECK : 0;
  for (;;) {
    int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(s), subject.size(), 0, options,
                         data_, context_);
    if (rc >= 0) return true;
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT && grow_jit_stack()) continue;
    // No match, or a run-time failure (limits, invalid UTF-8): not a match.
    return false;
  }
}

}  // namespace qm
