// Errors as values. The core never throws across its boundary: an operation
// that can fail returns a Status (or a Result<T>), and the bindings turn the
// code into the matching Python exception.
//
//   Result<Pattern> p = Pattern::compile(text, /*caseless_prefix=*/true);
//   if (!p.ok()) return raise(p.status());
#ifndef QUILLMOOR_CORE_STATUS_H_
#define QUILLMOOR_CORE_STATUS_H_

#include <optional>
#include <string>
#include <utility>

namespace qm {

enum class ErrorCode : unsigned char {
  kOk = 0,
  kPattern,   // a regular expression that does not compile (RuntimeError)
  kLetter,    // a letter coordinate that letter parsing refuses (ValueError)
  kJson,      // the JSON writer failed (RuntimeError "Failed to convert in JSON: ...")
  kInternal,  // an invariant of the core was broken (the dedicated BaseException)
};

class Status {
 public:
  Status() = default;
  Status(ErrorCode code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status Ok() { return Status(); }

  bool ok() const { return code_ == ErrorCode::kOk; }
  ErrorCode code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  ErrorCode code_ = ErrorCode::kOk;
  std::string message_;
};

// A value or the Status that explains why there is none.
template <class T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Status status) : status_(std::move(status)) {}  // NOLINT

  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace qm

#endif  // QUILLMOOR_CORE_STATUS_H_
