// A growable array of normalisation elements that lives on the stack until
// a segment outgrows it, so that checking ordinary text never allocates.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "unicode/normalization_data.h"

namespace quorvel::unicode::nf {

class ElementBuffer {
 public:
  ElementBuffer() = default;
  ElementBuffer(const ElementBuffer&) = delete;  // data_ may point into this object
  ElementBuffer& operator=(const ElementBuffer&) = delete;

  void clear() noexcept { size_ = 0; }
  std::size_t size() const noexcept { return size_; }
  Element* data() noexcept { return data_; }
  Element& operator[](std::size_t i) noexcept { return data_[i]; }
  void shrink(std::size_t n) noexcept { size_ = n; }

  void push_back(Element e) {
    if (size_ == capacity_) grow(size_ + 1);
    data_[size_++] = e;
  }

  void append(const Element* first, std::size_t n) {
    if (size_ + n > capacity_) grow(size_ + n);
    for (std::size_t k = 0; k < n; ++k) data_[size_ + k] = first[k];
    size_ += n;
  }

 private:
  void grow(std::size_t need) {
    std::size_t cap = capacity_ * 2;
    while (cap < need) cap *= 2;
    std::vector<Element> bigger(cap);
    for (std::size_t k = 0; k < size_; ++k) bigger[k] = data_[k];
    heap_.swap(bigger);
    data_ = heap_.data();
    capacity_ = cap;
  }

  static constexpr std::size_t kInline = 64;
  std::array<Element, kInline> inline_;
  std::vector<Element> heap_;
  Element* data_ = inline_.data();
  std::size_t size_ = 0;
  std::size_t capacity_ = kInline;
};

}  // namespace quorvel::unicode::nf
