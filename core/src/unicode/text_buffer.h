// A byte buffer that lives on the stack up to N bytes and moves to the heap
// past that, so that the common short domain costs no allocation while any
// length still works.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace quorvel::unicode {

template <std::size_t N>
class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  void append(const char* p, std::size_t n) {
    if (!spilled_ && n <= N - size_) {
      std::memcpy(inline_ + size_, p, n);
      size_ += n;
      return;
    }
    append_to_heap(p, n);
  }
  void append(std::string_view s) { append(s.data(), s.size()); }
  void push_back(char c) {
    if (!spilled_ && size_ < N) {
      inline_[size_++] = c;
      return;
    }
    append_to_heap(&c, 1);
  }
  // Room for n more bytes at the end, for the caller to write.
  char* extend(std::size_t n) {
    if (!spilled_ && n <= N - size_) {
      char* p = inline_ + size_;
      size_ += n;
      return p;
    }
    append_to_heap(nullptr, n);
    return heap_.data() + (size_ - n);
  }
  void clear() noexcept {
    size_ = 0;
    heap_.clear();
    spilled_ = false;
  }

  std::size_t size() const noexcept { return size_; }
  std::string_view view() const noexcept {
    return spilled_ ? std::string_view(heap_) : std::string_view(inline_, size_);
  }

 private:
  void append_to_heap(const char* p, std::size_t n) {
    if (!spilled_) {
      heap_.reserve(2 * (size_ + n));
      heap_.assign(inline_, size_);
      spilled_ = true;
    }
    if (p != nullptr) {
      heap_.append(p, n);
    } else {
      heap_.resize(heap_.size() + n);
    }
    size_ += n;
  }

  char inline_[N];
  std::size_t size_ = 0;
  bool spilled_ = false;
  std::string heap_;
};

}  // namespace quorvel::unicode
