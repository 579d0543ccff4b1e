// A value-or-error return type: the core reports failures as values and
// never throws for bad input (C++20 has no std::expected yet).
#pragma once

#include <cassert>
#include <utility>

#include "quorvel/jid_error.h"

namespace quorvel {

template <class T, class E = JidError>
class [[nodiscard]] Result {
 public:
  Result(T&& value) : value_(std::move(value)), ok_(true) {}      // NOLINT: implicit by design
  Result(const T& value) : value_(value), ok_(true) {}           // NOLINT: implicit by design
  Result(E error) : error_(error), ok_(false) {}             // NOLINT: implicit by design

  bool ok() const noexcept { return ok_; }
  explicit operator bool() const noexcept { return ok_; }

  E error() const noexcept {
    assert(!ok_);
    return error_;
  }
  T& value() & noexcept {
    assert(ok_);
    return value_;
  }
  const T& value() const& noexcept {
    assert(ok_);
    return value_;
  }
  T&& value() && noexcept {
    assert(ok_);
    return std::move(value_);
  }
  T& operator*() & noexcept { return value(); }
  const T& operator*() const& noexcept { return value(); }
  T* operator->() noexcept { return &value(); }
  const T* operator->() const noexcept { return &value(); }

 private:
  T value_{};
  E error_{};
  bool ok_;
};

}  // namespace quorvel
