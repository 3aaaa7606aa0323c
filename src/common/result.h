#pragma once
// Failures as values: an operation returns its result or an Error with a message.

#include <cassert>
#include <string>
#include <utility>
#include <optional>

namespace tallow {

// A failure, worded for the user (it may become a status reason or a message box).
struct Error {
  std::string message;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Error error) : error_(std::move(error)) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }

  T& value() & { assert(ok()); return *value_; }
  const T& value() const& { assert(ok()); return *value_; }
  T&& value() && { assert(ok()); return std::move(*value_); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }

  const Error& error() const { assert(!ok()); return error_; }

 private:
  // Kept side by side rather than in a variant: GCC 12 reports false
  // -Wfree-nonheap-object warnings when a variant holding a string is destroyed.
  std::optional<T> value_;
  Error error_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), ok_(false) {}

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Error& error() const { assert(!ok_); return error_; }

 private:
  Error error_;
  bool ok_ = true;
};

}  // namespace tallow
